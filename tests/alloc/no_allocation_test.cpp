// Nothing is allocated per datagram: once the streams and the clock have
// been used once, receiving, filtering and rendering datagrams (every view,
// the flush of the log, the echo) makes no call to malloc, calloc or realloc.
// This binary counts them by replacing glibc's functions with ones that count
// and hand on to glibc's own.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "config/options.hpp"
#include "monitor/local_clock.hpp"
#include "net/capture_filter.hpp"
#include "net/packet.hpp"
#include "platform/capture.hpp"
#include "platform/clock.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* block, std::size_t size);
}

namespace {
bool counting = false;
long allocations = 0;
}  // namespace

extern "C" void* malloc(std::size_t size) {
    allocations += counting ? 1 : 0;
    return __libc_malloc(size);
}

extern "C" void* calloc(std::size_t count, std::size_t size) {
    allocations += counting ? 1 : 0;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, std::size_t size) {
    allocations += counting ? 1 : 0;
    return __libc_realloc(block, size);
}

namespace {

// The allocations `work` makes.
template <typename Work>
long allocations_in(Work work) {
    allocations = 0;
    counting = true;
    work();
    counting = false;
    return allocations;
}

// TCP, UDP, ICMP and other datagrams of several lengths, named and unnamed
// ports.
void fill_datagram(int n, PacketBuffer* packet) {
    constexpr std::uint8_t protocols[] = {6, 17, 1, 47};
    constexpr int lengths[] = {1, 20, 28, 40, 60, 576, 1500, 2000};
    std::memset(packet->bytes, 0, sizeof packet->bytes);
    packet->length = lengths[n % 8];
    for (int i = 0; i < packet->length; ++i) {
        packet->bytes[i] = static_cast<std::uint8_t>(i * 31 + n);
    }
    packet->bytes[0] = 0x45;
    packet->bytes[9] = protocols[n % 4];
    packet->bytes[20] = static_cast<std::uint8_t>(n % 3 == 0 ? 0 : n);
    packet->bytes[21] = static_cast<std::uint8_t>(n % 3 == 0 ? 80 : n * 7);
}

// The log stream as the monitor sets it up: a file with a buffer of its own.
struct LogFile {
    std::FILE* stream;
    char buffer[64 * 1024];
};

LogFile log_file{};

LocalClock loop_clock{};

void render_as_the_loop_does(const MonitorOptions& options, const PacketBuffer& packet,
                             std::FILE* log, std::FILE* console) {
    if (!packet_passes_filter(capture_filter_of(options), packet.bytes, packet.length)) {
        return;
    }
    const LocalTime now = local_time_of(&loop_clock, platform_wall_clock());
    if (options.show_detail != 0) {
        print_detail(log, packet.bytes, packet.length, now);
    } else {
        print_summary(log, packet.bytes, packet.length, now);
    }
    if (options.show_dump != 0) {
        print_hex_dump(log, packet.bytes, packet.length);
    }
    std::fflush(log);
    print_console_echo(console, packet.bytes, packet.length);
    std::fflush(console);
}

class NoAllocation : public ::testing::Test {
protected:
    void SetUp() override {
        log_file.stream = std::tmpfile();
        ASSERT_NE(log_file.stream, nullptr);
        std::setvbuf(log_file.stream, log_file.buffer, _IOFBF, sizeof log_file.buffer);
        console_ = std::fopen("/dev/null", "w");
        ASSERT_NE(console_, nullptr);
        // Once, as the monitor's start-up does: the console stream gets its
        // buffer and the clock its time zone.
        MonitorOptions options{};
        PacketBuffer packet{};
        fill_datagram(0, &packet);
        options.show_detail = 1;
        render_as_the_loop_does(options, packet, log_file.stream, console_);
        options.show_detail = 0;
        render_as_the_loop_does(options, packet, log_file.stream, console_);
    }
    void TearDown() override {
        std::fclose(log_file.stream);
        std::fclose(console_);
    }
    std::FILE* console_ = nullptr;
};

TEST_F(NoAllocation, RenderingDatagramsInEveryModeAllocatesNothing) {
    MonitorOptions options{};
    PacketBuffer packet{};
    for (int mode = 0; mode < 4; ++mode) {
        options.show_detail = static_cast<std::uint8_t>(mode & 1);
        options.show_dump = static_cast<std::uint8_t>(mode >> 1);
        options.filter_port = mode == 3 ? 80 : 0;
        const long made = allocations_in([&] {
            for (int n = 0; n < 200; ++n) {
                fill_datagram(n, &packet);
                render_as_the_loop_does(options, packet, log_file.stream, console_);
            }
        });
        EXPECT_EQ(made, 0) << "detail " << int{options.show_detail} << ", dump "
                           << int{options.show_dump};
    }
    // The counter does count: a stream opened here allocates.
    const long opening = allocations_in([] {
        std::FILE* other = std::fopen("/dev/null", "w");
        std::fputs("x", other);
        std::fclose(other);
    });
    EXPECT_GT(opening, 0);
}

// The capture socket's receive, on loopback (root only).
TEST_F(NoAllocation, ReceivingFromTheCaptureSocketAllocatesNothing) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "the capture socket needs root";
    }
    const std::uint32_t loopback = htonl(INADDR_LOOPBACK);
    MonitorOptions options{};
    options.listen_address = loopback;
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = loopback;
    socklen_t size = sizeof to;
    ASSERT_EQ(bind(holder, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
    ASSERT_EQ(getsockname(holder, reinterpret_cast<sockaddr*>(&to), &size), 0);
    options.filter_port = ntohs(to.sin_port);

    Capture* capture = nullptr;
    CaptureReport report{};
    ASSERT_EQ(platform_open_capture(loopback, capture_filter_of(options), &capture, &report),
              CaptureOpen::opened)
        << report.reason;

    constexpr int datagrams = 50;
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    for (int n = 0; n < datagrams; ++n) {
        ASSERT_EQ(
            sendto(sender, "datagram", 8, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to), 8);
    }
    PacketBuffer packet{};
    int received = 0;
    const long made = allocations_in([&] {
        // Every datagram is queued already; the waits and the attempts are
        // bounded all the same, so that a receive that never returns one
        // fails the test within seconds.
        for (int attempt = 0; attempt < datagrams + 20 && received < datagrams; ++attempt) {
            std::memset(packet.bytes, 0, sizeof packet.bytes);
            if (platform_receive(capture, packet.bytes, packet_buffer_size, 200, &packet.length) ==
                CaptureReceive::datagram) {
                ++received;
                render_as_the_loop_does(options, packet, log_file.stream, console_);
            }
        }
    });
    EXPECT_EQ(received, datagrams);
    EXPECT_EQ(made, 0);
    platform_close_capture(capture);
    close(sender);
    close(holder);
}

}  // namespace

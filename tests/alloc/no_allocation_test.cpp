// Nothing is allocated per datagram: once the streams and the clock have
// been used once, the receive loop (receiving, filtering, every view, the
// writes of the log, the echo) makes no call to malloc, calloc or realloc.
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
#include "monitor/account_writer.hpp"
#include "monitor/datagram_source.hpp"
#include "monitor/receive_loop.hpp"
#include "net/packet.hpp"
#include "platform/capture.hpp"

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

// A source that hands on datagrams made by fill_datagram, or, with an inner
// source, what that one gives, up to `limit` of them; then it ends. With
// `measure`, allocations are counted from its first call to its end: all the
// receive loop does for those datagrams.
struct CountingSource {
    DatagramSource* inner;  // nullptr: made datagrams
    int limit;
    bool measure;
    int given;
    int calls;
};

SourceResult counting_next(void* state, PacketBuffer* packet, Datagram* datagram, int wait_ms,
                           char* reason, std::size_t size) {
    CountingSource* source = static_cast<CountingSource*>(state);
    counting = source->measure;
    // Bounded: a capture that never gives its datagrams fails the test.
    if (source->given == source->limit || ++source->calls > source->limit + 20) {
        counting = false;
        return SourceResult::end;
    }
    if (source->inner == nullptr) {
        fill_datagram(source->given++, packet);
        *datagram = Datagram{static_cast<std::uint32_t>(packet->length), false, {}};
        return SourceResult::datagram;
    }
    const SourceResult result = source->inner->next(source->inner->state, packet, datagram,
                                                    wait_ms == 0 ? 0 : 200, reason, size);
    source->given += result == SourceResult::datagram ? 1 : 0;
    return result;
}

CaptureDrops no_drops(void* /*state*/) {
    return CaptureDrops{0, true};
}

// The accounts as the monitor writes them: into a log, the console getting
// echoes (to the null device, taken as a console that may make it wait, so
// that its room is asked).
AccountWriter writer;

class NoAllocation : public ::testing::Test {
protected:
    void SetUp() override {
        console_ = std::fopen("/dev/null", "w");
        ASSERT_NE(console_, nullptr);
        // Once, as the monitor's start-up does: the streams get their buffers
        // and the clock its time zone.
        MonitorOptions options{};
        options.show_detail = 1;
        run(options, nullptr, 8, false);
        options.show_detail = 0;
        run(options, nullptr, 8, false);
    }
    void TearDown() override {
        std::fclose(console_);
        std::remove(log_path);
    }

    // The receive loop over `limit` datagrams of `inner` (or made ones); the
    // allocations it made for them, when measured.
    long run(const MonitorOptions& options, DatagramSource* inner, int limit, bool measure) {
        start_accounts(&writer, options, Console{console_, ConsoleEncoding::utf8, console_});
        EXPECT_TRUE(open_log(&writer, log_path, options));
        CountingSource counted{inner, limit, measure, 0, 0};
        DatagramSource source{counting_next, no_drops, &counted, packet_buffer_size};
        allocations = 0;
        run_receive_loop(&source, options, &writer, StreamKind::may_wait);
        counting = false;
        std::fclose(writer.stream);
        given_ = counted.given;
        return allocations;
    }

    std::FILE* console_ = nullptr;
    int given_ = 0;
    const char* log_path = "no_allocation_test.log";
};

TEST_F(NoAllocation, RenderingDatagramsInEveryModeAllocatesNothing) {
    MonitorOptions options{};
    for (int mode = 0; mode < 4; ++mode) {
        options.show_detail = static_cast<std::uint8_t>(mode & 1);
        options.show_dump = static_cast<std::uint8_t>(mode >> 1);
        options.filter_port = mode == 3 ? 80 : 0;
        EXPECT_EQ(run(options, nullptr, 200, true), 0)
            << "detail " << int{options.show_detail} << ", dump " << int{options.show_dump};
        EXPECT_EQ(given_, 200);
    }
    // The counter does count: a stream opened here allocates.
    const long opening = allocations_in([] {
        std::FILE* other = std::fopen("/dev/null", "w");
        std::fputs("x", other);
        std::fclose(other);
    });
    EXPECT_GT(opening, 0);
}

// The capture's receive, on loopback (root only).
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
    // Every datagram is queued already; the waits and the attempts are
    // bounded all the same, so that a receive that never returns one fails
    // the test within seconds.
    DatagramSource live = live_source(capture);
    EXPECT_EQ(run(options, &live, datagrams, true), 0);
    EXPECT_EQ(given_, datagrams);
    EXPECT_EQ(writer.written, static_cast<std::uint64_t>(datagrams));
    platform_close_capture(capture);
    close(sender);
    close(holder);
}

}  // namespace

// Receiving from the Linux capture socket, through the receive ring and
// through the socket's queue (the path taken where the kernel refuses a
// ring): what arrives and how it is cut, a receive that does not wait, the
// kernel's drop count, and an interface that goes down, comes back and goes
// away. Root only; only loopback and a network namespace of the
// test's own carry traffic.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/capture.hpp"
#include "platform/linux/capture_state.hpp"
#include "platform/linux/receive_ring.hpp"
#include "support/command.hpp"

namespace {

struct ReceivePath {
    const char* name;
    bool ring;
};

constexpr ReceivePath receive_paths[] = {{"ring", true}, {"queue", false}};

// A capture on the interface holding `address`, passing only `port`, through
// `path`; nullptr (with the reason printed) when it cannot be had.
Capture* open_capture(const char* address, std::uint16_t port, const ReceivePath& path) {
    in_addr listen{};
    inet_pton(AF_INET, address, &listen);
    Capture* capture = nullptr;
    CaptureReport report{};
    if (platform_open_capture(listen.s_addr, make_capture_filter(0, 0, port), &capture, &report) !=
        CaptureOpen::opened) {
        std::fprintf(stderr, "capture: %s\n", report.reason);
        return nullptr;
    }
    if (!path.ring) {
        close_receive_ring(capture);
    }
    if ((capture->ring.frames != nullptr) != path.ring) {
        platform_close_capture(capture);
        return nullptr;
    }
    return capture;
}

// One receive; what it put in the buffer, if asked.
CaptureReceive receive(Capture* capture, unsigned char* buffer, int capacity, int wait_ms,
                       Received* received = nullptr) {
    Received got{};
    const CaptureReceive result = platform_receive(capture, buffer, capacity, wait_ms, &got);
    if (received != nullptr) {
        *received = got;
    }
    return result;
}

sockaddr_in loopback_address(std::uint16_t port) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    to.sin_port = htons(port);
    return to;
}

// A UDP socket that holds a loopback port (and never reads), so that nothing
// answers the datagrams sent to it.
struct PortHolder {
    int fd;
    std::uint16_t port;
};

PortHolder hold_port() {
    PortHolder holder{socket(AF_INET, SOCK_DGRAM, 0), 0};
    sockaddr_in bound = loopback_address(0);
    socklen_t size = sizeof bound;
    if (bind(holder.fd, reinterpret_cast<const sockaddr*>(&bound), sizeof bound) == 0 &&
        getsockname(holder.fd, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
        holder.port = ntohs(bound.sin_port);
    }
    return holder;
}

bool send_to(int sender, std::uint16_t port, const unsigned char* payload, std::size_t size) {
    const sockaddr_in to = loopback_address(port);
    return sendto(sender, payload, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) ==
           static_cast<ssize_t>(size);
}

class CaptureReceiveTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "the capture socket needs root";
        }
        holder = hold_port();
        sender = socket(AF_INET, SOCK_DGRAM, 0);
        ASSERT_NE(holder.port, 0);
        ASSERT_GE(sender, 0);
    }
    void TearDown() override {
        close(holder.fd);
        close(sender);
    }
    PortHolder holder{-1, 0};
    int sender = -1;
};

// Each datagram once (loopback's outgoing copy skipped), from its IPv4
// header, cut at the buffer; a smaller capacity cuts it there and leaves the
// rest of the buffer alone.
TEST_F(CaptureReceiveTest, DatagramsArriveOnceFromTheirHeaderCutAtTheBuffer) {
    constexpr int udp_header_end = 28;
    constexpr struct {
        int payload;
        int capacity;
        int expected;
    } datagrams[] = {
        {1, 2000, udp_header_end + 1},
        {100, 2000, udp_header_end + 100},
        {1472, 2000, udp_header_end + 1472},
        {3000, 2000, 2000},  // the kernel's filter keeps 2000 bytes
        {100, 40, 40},
    };
    unsigned char payload[3000];
    for (std::size_t i = 0; i < sizeof payload; ++i) {
        payload[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    for (const ReceivePath& path : receive_paths) {
        Capture* capture = open_capture("127.0.0.1", holder.port, path);
        ASSERT_NE(capture, nullptr) << path.name;
        unsigned char buffer[2001];
        EXPECT_EQ(receive(capture, buffer, 2000, 0), CaptureReceive::nothing) << path.name;

        for (const auto& d : datagrams) {
            ASSERT_TRUE(send_to(sender, holder.port, payload, static_cast<std::size_t>(d.payload)));
        }
        int index = 0;
        for (const auto& d : datagrams) {
            std::memset(buffer, 0xEE, sizeof buffer);
            // Once the first has come, the rest are waiting: a receive that
            // does not wait takes them.
            Received got{};
            ASSERT_EQ(receive(capture, buffer, d.capacity, index == 0 ? 1000 : 0, &got),
                      CaptureReceive::datagram)
                << path.name << ", datagram " << index;
            const int count = got.length;
            ASSERT_EQ(count, d.expected) << path.name << ", datagram " << index;
            // The datagram's own length, whatever was kept of it.
            EXPECT_EQ(got.original_length, static_cast<std::uint32_t>(udp_header_end + d.payload))
                << path.name << ", datagram " << index;
            EXPECT_EQ(buffer[0], 0x45) << path.name << ", datagram " << index;
            EXPECT_EQ(buffer[9], 17) << path.name << ", datagram " << index;
            EXPECT_EQ(buffer[d.capacity], 0xEE) << path.name << ", datagram " << index;
            if (count > udp_header_end) {
                EXPECT_EQ((buffer[22] << 8) | buffer[23], holder.port) << path.name;
                EXPECT_EQ(std::memcmp(buffer + udp_header_end, payload,
                                      static_cast<std::size_t>(count - udp_header_end)),
                          0)
                    << path.name << ", datagram " << index;
            }
            ++index;
        }
        // All were sent before the first was received: none is left, with or
        // without waiting.
        EXPECT_EQ(receive(capture, buffer, 2000, 0), CaptureReceive::nothing) << path.name;
        EXPECT_EQ(receive(capture, buffer, 2000, 100), CaptureReceive::nothing) << path.name;
        platform_close_capture(capture);
    }
}

// More datagrams than the ring or the queue holds, none received meanwhile:
// every one is either received or counted as dropped.
TEST_F(CaptureReceiveTest, WhatIsNotReceivedIsCountedAsDropped) {
    constexpr int sent = 30000;  // the ring holds 2,048; the queue's 8 MiB some thousands
    const unsigned char payload[32] = {};
    for (const ReceivePath& path : receive_paths) {
        Capture* capture = open_capture("127.0.0.1", holder.port, path);
        ASSERT_NE(capture, nullptr) << path.name;
        for (int n = 0; n < sent; ++n) {
            ASSERT_TRUE(send_to(sender, holder.port, payload, sizeof payload)) << path.name;
        }
        const CaptureDrops first = platform_capture_drops(capture);
        int received = 0;
        unsigned char buffer[2000];
        for (int attempt = 0; attempt < sent + 10; ++attempt) {
            if (receive(capture, buffer, sizeof buffer, 100) != CaptureReceive::datagram) {
                break;
            }
            ++received;
        }
        // The counters are summed across reads, not started again.
        const CaptureDrops drops = platform_capture_drops(capture);
        EXPECT_TRUE(drops.counted) << path.name;
        EXPECT_GT(first.dropped, 0u) << path.name;
        EXPECT_EQ(drops.dropped, first.dropped) << path.name;
        EXPECT_EQ(static_cast<std::uint64_t>(received) + drops.dropped,
                  static_cast<std::uint64_t>(sent))
            << path.name << ": received " << received;
        platform_close_capture(capture);
    }
}

bool run(const char* command) {
    return std::system((std::string(command) + " >/dev/null 2>&1").c_str()) == 0;
}

// pw0 up with the capture's address and a fixed neighbour, so that a datagram
// to the peer address leaves at once.
bool bring_up() {
    return run("ip link set pw0 up") &&
           run("ip neigh replace 192.0.2.2 lladdr 02:00:00:00:00:02 nud permanent dev pw0");
}

// Sends a datagram out of pw0 and receives it: true when it came within
// bounded attempts.
bool send_and_receive(Capture* capture, int udp) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(5190);
    inet_pton(AF_INET, "192.0.2.2", &to.sin_addr);
    if (sendto(udp, "still there?", 12, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) !=
        12) {
        return false;
    }
    unsigned char buffer[2000];
    for (int attempt = 0; attempt < 20; ++attempt) {
        Received got{};
        if (receive(capture, buffer, sizeof buffer, 100, &got) == CaptureReceive::datagram &&
            got.length == 40) {
            return true;
        }
    }
    return false;
}

// In a network namespace of its own: the capture on pw0 receives, pw0 goes
// down (one failed receive, then quiet waits: the error does not repeat), and
// either comes back and receives again before it is deleted, or is deleted
// while down. Prints what happened.
void outlive_the_interface(ReceivePath path, bool delete_while_down) {
    if (unshare(CLONE_NEWNET) != 0 ||
        !run("ip link add pw0 type veth peer name pw1 && ip addr add 192.0.2.1/24 dev pw0 &&"
             " ip link set pw1 up") ||
        !bring_up()) {
        std::fprintf(stderr, "set-up failed\n");
        std::_Exit(1);
    }
    Capture* capture = open_capture("192.0.2.1", 5190, path);
    if (capture == nullptr) {
        std::_Exit(2);
    }
    const int udp = socket(AF_INET, SOCK_DGRAM, 0);
    std::fprintf(stderr, "received %d", send_and_receive(capture, udp) ? 1 : 0);

    run("ip link set pw0 down");
    int failed = 0;
    int gone = 0;
    unsigned char buffer[2000];
    for (int attempt = 0; attempt < 5; ++attempt) {
        const CaptureReceive result = receive(capture, buffer, sizeof buffer, 100);
        failed += result == CaptureReceive::failed ? 1 : 0;
        gone += result == CaptureReceive::interface_gone ? 1 : 0;
    }
    std::fprintf(stderr, ", down: failed %d, gone %d", failed, gone);

    if (!delete_while_down) {
        std::fprintf(stderr, ", up: received %d",
                     bring_up() && send_and_receive(capture, udp) ? 1 : 0);
    }
    run("ip link del pw0");
    int attempts = 0;
    while (attempts < 50 &&
           receive(capture, buffer, sizeof buffer, 100) != CaptureReceive::interface_gone) {
        ++attempts;
    }
    std::fprintf(stderr, ", deleted: gone %d.\n", attempts < 50 ? 1 : 0);
    std::_Exit(0);
}

TEST(CaptureInterfaceGone, DownIsNotGoneAndDeletedIsGone) {
    const std::string unavailable = test_support::network_namespace_unavailable_reason();
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const ReceivePath& path : receive_paths) {
        EXPECT_EXIT(outlive_the_interface(path, false), ::testing::ExitedWithCode(0),
                    "received 1, down: failed 1, gone 0, up: received 1, deleted: gone 1\\.\n")
            << path.name;
        EXPECT_EXIT(outlive_the_interface(path, true), ::testing::ExitedWithCode(0),
                    "received 1, down: failed 1, gone 0, deleted: gone 1\\.\n")
            << path.name;
    }
}

}  // namespace

// The Windows backend's sockets layer, host functions and failure reports, as
// far as they run under Wine (which has no raw IPv4 receive).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "net/packet.hpp"
#include "platform/capture.hpp"
#include "platform/host.hpp"
#include "platform/windows/capture_state.hpp"
#include "platform/windows/sockets.hpp"

namespace {

constexpr std::uint32_t none = 0xFFFFFFFF;

// WSAVERNOTSUPPORTED, WSAENOTSOCK
constexpr const char* version_not_supported = "10092";
constexpr const char* not_a_socket = "10038";

constexpr std::uint32_t address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
    return network_order_address(std::uint32_t{a} << 24 | std::uint32_t{b} << 16 |
                                 std::uint32_t{c} << 8 | std::uint32_t{d});
}

TEST(WindowsSocketsLayer, StartsVersion22AndDescribesItself) {
    const NetworkStart start = platform_start_network();
    ASSERT_TRUE(start.started) << start.failure;
    // Both texts are there to be printed: the description is not empty.
    ASSERT_NE(start.description, nullptr);
    ASSERT_NE(start.status, nullptr);
    EXPECT_STRNE(start.description, "");
    platform_stop_network();
}

TEST(WindowsSocketsLayer, RefusedStartUpIsAFailureWithItsReason) {
    // Version 0.0 does not exist.
    const NetworkStart start = start_windows_sockets(0x0000);
    EXPECT_FALSE(start.started);
    EXPECT_STREQ(start.description, "");
    EXPECT_STREQ(start.status, "");
    EXPECT_NE(std::string(start.failure).find(version_not_supported), std::string::npos)
        << start.failure;
}

TEST(WindowsSocketsLayer, DottedQuadConversion) {
    struct Case {
        const char* text;
        std::uint32_t expected;
    };
    constexpr Case cases[] = {
        {"0.0.0.0", 0},
        {"127.0.0.1", address(127, 0, 0, 1)},
        {"192.168.0.1", address(192, 168, 0, 1)},
        {"10.0.0.1 trailing words", address(10, 0, 0, 1)},
        {"255.255.255.255", none},
        {"abc", none},
        {"1.2.3.256", none},
        {"", none},
        {"10.0.0.1x", none},
        {"1.2.3.4.5", none},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform_inet_addr(c.text), c.expected) << '"' << c.text << '"';
    }
    // Network order: the first byte in memory is the first of the text.
    const AddressBytes bytes = address_bytes(platform_inet_addr("192.168.0.1"));
    EXPECT_EQ(bytes.byte[0], 192);
    EXPECT_EQ(bytes.byte[3], 1);
}

// The lookup starts the sockets layer for itself, so it works before start-up
// and leaves no start-up behind.
TEST(WindowsSocketsLayer, LocalAddressesWithoutStartUp) {
    LocalAddressList list;
    std::memset(&list, 0xFF, sizeof list);
    ASSERT_EQ(platform_local_addresses(&list), LocalAddressStatus::ok)
        << "the host name of this machine does not resolve to an IPv4 address";
    ASSERT_GE(list.count, 1);
    ASSERT_LE(list.count, max_local_addresses);
    for (int i = 0; i < list.count; ++i) {
        EXPECT_NE(list.address[i], 0u) << i;
        EXPECT_NE(list.address[i], none) << i;
        for (int j = 0; j < i; ++j) {
            EXPECT_NE(list.address[i], list.address[j]) << "listed twice: " << i;
        }
    }
    // A second lookup gives the same list: nothing was left half-started.
    LocalAddressList again{};
    ASSERT_EQ(platform_local_addresses(&again), LocalAddressStatus::ok);
    ASSERT_EQ(again.count, list.count);
    for (int i = 0; i < list.count; ++i) {
        EXPECT_EQ(again.address[i], list.address[i]);
    }
}

// Every capture step on a socket that does not exist fails with its reason,
// and a receive reports nothing. Opening a capture under Wine fails at its
// first step, with the reason and no privilege hint that does not apply.
TEST(WindowsSocketsLayer, CaptureOperationsOnNoSocketFailWithTheirReason) {
    ASSERT_TRUE(platform_start_network().started);
    char text[256];
    describe_socket_error(bind_capture_socket(INVALID_SOCKET, address(127, 0, 0, 1)), text,
                          sizeof text);
    EXPECT_NE(std::string(text).find(not_a_socket), std::string::npos) << text;

    // Windows names the missing socket; Wine refuses the control code first.
    describe_socket_error(switch_on_receive_all(INVALID_SOCKET), text, sizeof text);
    EXPECT_NE(std::string(text).find("Windows Sockets error 100"), std::string::npos) << text;

    Capture no_socket{true, INVALID_SOCKET};
    unsigned char buffer[packet_buffer_size] = {};
    Received received{-1, 1};
    EXPECT_NE(platform_receive(&no_socket, buffer, static_cast<int>(sizeof buffer), -1, &received),
              CaptureReceive::datagram);
    EXPECT_EQ(received.length, 0);

    Capture* capture = nullptr;
    CaptureReport report{};
    const CaptureOpen opened =
        platform_open_capture(address(127, 0, 0, 1), CaptureFilter{}, &capture, &report);
    if (opened == CaptureOpen::opened) {
        platform_close_capture(capture);  // a real Windows, as an Administrator
    } else {
        EXPECT_EQ(capture, nullptr);
        EXPECT_NE(std::string(report.reason).find("Windows Sockets error"), std::string::npos)
            << report.reason;
    }
    platform_stop_network();
}

}  // namespace

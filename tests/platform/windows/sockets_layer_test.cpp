// The Windows backend's sockets layer, host functions and failure reports, as
// far as they run under Wine (which has no raw IPv4 receive).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "net/packet.hpp"
#include "platform/platform.hpp"

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
    SocketsLayerInfo info;
    std::memset(&info, 'x', sizeof info);
    ASSERT_EQ(platform_startup(0x0202, &info), 0);
    // Both texts are terminated inside their buffers, and the description is
    // there to be printed.
    EXPECT_LT(std::strlen(info.description), sizeof info.description);
    EXPECT_LT(std::strlen(info.system_status), sizeof info.system_status);
    EXPECT_STRNE(info.description, "");
    platform_cleanup();
}

TEST(WindowsSocketsLayer, RefusedStartUpIsAFailureWithItsReason) {
    SocketsLayerInfo info;
    std::memset(&info, 'x', sizeof info);
    // Version 0.0 does not exist.
    EXPECT_NE(platform_startup(0x0000, &info), 0);
    EXPECT_STREQ(info.description, "");
    EXPECT_STREQ(info.system_status, "");
    const PlatformError error = platform_last_error();
    EXPECT_NE(std::string(error.text).find(version_not_supported), std::string::npos) << error.text;
    EXPECT_FALSE(error.permission_denied);
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

// Every capture operation on a socket that does not exist fails, keeps its
// reason, and a receive reports nothing.
TEST(WindowsSocketsLayer, CaptureOperationsOnNoSocketFailWithTheirReason) {
    SocketsLayerInfo info{};
    ASSERT_EQ(platform_startup(0x0202, &info), 0);
    CaptureSocket capture{};
    capture.handle = -1;  // INVALID_SOCKET

    EXPECT_FALSE(platform_bind_capture(&capture, address(127, 0, 0, 1)));
    PlatformError error = platform_last_error();
    EXPECT_NE(std::string(error.text).find(not_a_socket), std::string::npos) << error.text;
    EXPECT_FALSE(error.permission_denied);

    // Windows names the missing socket; Wine refuses the control code first.
    EXPECT_FALSE(platform_receive_all(&capture, CaptureFilter{}));
    error = platform_last_error();
    EXPECT_NE(std::string(error.text).find("Windows Sockets error 100"), std::string::npos)
        << error.text;

    unsigned char buffer[packet_buffer_size] = {};
    EXPECT_LE(platform_receive(&capture, buffer, static_cast<int>(sizeof buffer), -1), 0);
    platform_cleanup();
}

}  // namespace

// The address-range and port filter over hand-built headers.
#include "net/capture_filter.hpp"

#include <gtest/gtest.h>

namespace {

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return network_order_address(a << 24 | b << 16 | c << 8 | d);
}

struct FilterCase {
    const char* name;
    std::uint32_t filter_address;
    std::uint32_t filter_width;
    std::uint16_t filter_port;
    std::uint8_t source[4];
    std::uint8_t destination[4];
    std::uint8_t ports[4];  // bytes 20-23
    bool passes;
};

constexpr std::uint8_t any_ports[4] = {0x12, 0x34, 0x56, 0x78};

const FilterCase cases[] = {
    {"no_filter", 0, 0, 0, {1, 2, 3, 4}, {5, 6, 7, 8}, {0, 0, 0, 0}, true},
    {"address_off_whatever_the_width",
     0,
     0xFFFFFFFFu,
     0,
     {1, 2, 3, 4},
     {5, 6, 7, 8},
     {0, 0, 0, 0},
     true},
    {"width_0_source_equal", ip(10, 0, 0, 1), 0, 0, {10, 0, 0, 1}, {8, 8, 8, 8}, {}, true},
    {"width_0_next_address", ip(10, 0, 0, 1), 0, 0, {10, 0, 0, 2}, {10, 0, 0, 0}, {}, false},
    {"source_at_range_end", ip(192, 168, 1, 10), 4, 0, {192, 168, 1, 14}, {8, 8, 8, 8}, {}, true},
    {"source_past_range_end",
     ip(192, 168, 1, 10),
     4,
     0,
     {192, 168, 1, 15},
     {8, 8, 8, 8},
     {},
     false},
    {"destination_inside", ip(192, 168, 1, 10), 4, 0, {8, 8, 8, 8}, {192, 168, 1, 12}, {}, true},
    {"below_range", ip(192, 168, 1, 10), 4, 0, {192, 168, 1, 9}, {192, 168, 0, 200}, {}, false},
    // Compared as unsigned numbers, first byte most significant.
    {"high_first_byte_unsigned",
     ip(200, 0, 0, 0),
     0x00FFFFFFu,
     0,
     {200, 255, 255, 255},
     {1, 1, 1, 1},
     {},
     true},
    {"range_across_byte_carry", ip(10, 0, 0, 250), 10, 0, {10, 0, 1, 4}, {1, 1, 1, 1}, {}, true},
    {"wrapped_range_passes_nothing",
     ip(255, 255, 255, 250),
     10,
     0,
     {255, 255, 255, 251},
     {0, 0, 0, 1},
     {},
     false},
    {"wrapped_range_not_even_low_end",
     ip(255, 255, 255, 250),
     10,
     0,
     {255, 255, 255, 250},
     {255, 255, 255, 250},
     {},
     false},
    {"whole_space_from_1",
     ip(0, 0, 0, 1),
     0xFFFFFFFEu,
     0,
     {255, 255, 255, 255},
     {0, 0, 0, 0},
     {},
     true},
    {"port_443_as_source", 0, 0, 443, {1, 2, 3, 4}, {5, 6, 7, 8}, {0x01, 0xBB, 0, 80}, true},
    {"port_443_as_destination", 0, 0, 443, {1, 2, 3, 4}, {5, 6, 7, 8}, {0, 80, 0x01, 0xBB}, true},
    {"port_443_byte_swapped",
     0,
     0,
     443,
     {1, 2, 3, 4},
     {5, 6, 7, 8},
     {0xBB, 0x01, 0xBB, 0x01},
     false},
    {"port_65535", 0, 0, 65535, {1, 2, 3, 4}, {5, 6, 7, 8}, {0, 1, 0xFF, 0xFF}, true},
    // ICMP type 8 code 0: bytes 20-21 read as port 0x0800.
    {"icmp_type_and_code_as_port",
     0,
     0,
     2048,
     {1, 2, 3, 4},
     {5, 6, 7, 8},
     {8, 0, 0xF7, 0xFF},
     true},
    {"both_filters_pass",
     ip(10, 0, 0, 1),
     0,
     53,
     {10, 0, 0, 1},
     {8, 8, 8, 8},
     {0xC0, 0, 0, 53},
     true},
    {"address_passes_port_fails",
     ip(10, 0, 0, 1),
     0,
     53,
     {10, 0, 0, 1},
     {8, 8, 8, 8},
     {0, 54, 0, 52},
     false},
    {"port_passes_address_fails",
     ip(10, 0, 0, 1),
     0,
     53,
     {10, 0, 0, 2},
     {8, 8, 8, 8},
     {0, 53, 0, 53},
     false},
};

TEST(PacketFilter, Cases) {
    for (const FilterCase& c : cases) {
        const CaptureFilter filter =
            make_capture_filter(c.filter_address, c.filter_width, c.filter_port);
        PacketBuffer buffer{};
        buffer.bytes[0] = 0x45;
        buffer.bytes[9] = 6;
        for (int i = 0; i < 4; ++i) {
            buffer.bytes[12 + i] = c.source[i];
            buffer.bytes[16 + i] = c.destination[i];
            buffer.bytes[20 + i] = c.ports[i];
        }
        buffer.length = 40;
        EXPECT_EQ(packet_passes_filter(filter, buffer.bytes, buffer.length), c.passes) << c.name;
    }
}

// The ports follow the header length the datagram gives, when it is at least
// 20 and within the received bytes; otherwise they are read at 20.
TEST(PacketFilter, PortsFollowTheHeaderLength) {
    struct {
        std::uint8_t first_byte;
        int length;
        std::size_t ports_at;  // where the port 0x5678 is put
        bool passes;
    } const header_cases[] = {
        {0x45, 40, 20, true},  {0x46, 44, 24, true},  {0x46, 44, 20, false}, {0x4F, 64, 60, true},
        {0x4F, 64, 20, false}, {0x46, 23, 20, true},  {0x4F, 59, 20, true},  {0x44, 40, 20, true},
        {0x40, 40, 20, true},  {0x44, 40, 16, false}, {0x46, 24, 24, true},  {0x46, 24, 22, false},
    };
    for (const auto& c : header_cases) {
        PacketBuffer buffer{};
        buffer.bytes[0] = c.first_byte;
        buffer.bytes[c.ports_at] = 0x56;
        buffer.bytes[c.ports_at + 1] = 0x78;
        EXPECT_EQ(packet_passes_filter(make_capture_filter(0, 0, 0x5678), buffer.bytes, c.length),
                  c.passes)
            << std::hex << int{c.first_byte} << std::dec << " length " << c.length << " at "
            << c.ports_at;
    }
}

}  // namespace

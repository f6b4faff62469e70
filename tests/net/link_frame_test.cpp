// Finding the IPv4 datagram in link-layer frames of every link type a capture
// file may hold, cut short at every awkward place.
#include "net/link_frame.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

// The start of an IPv4 and of an IPv6 header.
const Bytes ipv4 = {0x45, 0x00, 0x00, 0x14};
const Bytes ipv6 = {0x60, 0x00, 0x00, 0x00};

Bytes join(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// An Ethernet header whose addresses are followed by `types` (EtherTypes and
// tag control words, two bytes each).
Bytes ethernet(std::initializer_list<std::uint16_t> types) {
    Bytes frame(12, 0xAA);
    for (std::uint16_t type : types) {
        frame.push_back(static_cast<std::uint8_t>(type >> 8));
        frame.push_back(static_cast<std::uint8_t>(type));
    }
    return frame;
}

// A cooked header: 14 bytes, the protocol, then the datagram.
Bytes sll(std::uint16_t protocol) {
    Bytes frame(14, 0x01);
    frame.push_back(static_cast<std::uint8_t>(protocol >> 8));
    frame.push_back(static_cast<std::uint8_t>(protocol));
    return frame;
}

// A cooked v2 header: the protocol, then 18 bytes, then the datagram.
Bytes sll2(std::uint16_t protocol) {
    Bytes frame = {static_cast<std::uint8_t>(protocol >> 8), static_cast<std::uint8_t>(protocol)};
    frame.resize(20, 0x01);
    return frame;
}

struct FrameCase {
    const char* name;
    int link_type;
    Bytes frame;
    LinkFrameKind kind;
    std::size_t offset;
};

constexpr LinkFrameKind found = LinkFrameKind::ipv4;
constexpr LinkFrameKind other = LinkFrameKind::not_ipv4;

const FrameCase frame_cases[] = {
    {"ethernet", 1, join(ethernet({0x0800}), ipv4), found, 14},
    {"ethernet_8021q", 1, join(ethernet({0x8100, 0x0064, 0x0800}), ipv4), found, 18},
    {"ethernet_8021ad_8021q", 1, join(ethernet({0x88A8, 0x0010, 0x8100, 0x0064, 0x0800}), ipv4),
     found, 22},
    {"ethernet_ipv6", 1, join(ethernet({0x86DD}), ipv6), other, 0},
    {"ethernet_tagged_arp", 1, join(ethernet({0x8100, 0x0064, 0x0806}), ipv4), other, 0},
    {"ethernet_type_cut", 1, Bytes(13, 0xAA), other, 0},
    {"ethernet_no_datagram_byte", 1, ethernet({0x0800}), other, 0},
    {"ethernet_tag_cut", 1, ethernet({0x8100, 0x0064, 0x08}), other, 0},
    {"ethernet_only_tags", 1, ethernet({0x8100, 0x8100, 0x8100, 0x8100, 0x8100}), other, 0},
    {"sll", 113, join(sll(0x0800), ipv4), found, 16},
    {"sll_ipv6", 113, join(sll(0x86DD), ipv6), other, 0},
    {"sll_header_cut", 113, Bytes(15, 0x08), other, 0},
    {"sll_no_datagram_byte", 113, sll(0x0800), other, 0},
    {"sll2", 276, join(sll2(0x0800), ipv4), found, 20},
    {"sll2_ipv6", 276, join(sll2(0x86DD), ipv6), other, 0},
    {"sll2_no_datagram_byte", 276, sll2(0x0800), other, 0},
    {"null_little_endian_writer", 0, join({2, 0, 0, 0}, ipv4), found, 4},
    {"null_big_endian_writer", 0, join({0, 0, 0, 2}, ipv4), found, 4},
    {"null_inet6", 0, join({30, 0, 0, 0}, ipv6), other, 0},
    {"null_family_cut", 0, {2, 0, 0}, other, 0},
    {"loop", 108, join({0, 0, 0, 2}, ipv4), found, 4},
    {"loop_host_order_family", 108, join({2, 0, 0, 0}, ipv4), other, 0},
    {"raw", 12, ipv4, found, 0},
    {"raw_bsdos", 14, ipv4, found, 0},
    {"raw_as_stored", 101, ipv4, found, 0},
    {"raw_ipv6", 12, ipv6, other, 0},
    {"raw_bsdos_ipv6", 14, ipv6, other, 0},
    {"raw_as_stored_ipv6", 101, ipv6, other, 0},
    {"raw_version_0", 101, {0x05, 0x00, 0x00, 0x14}, other, 0},
    {"raw_empty", 12, {}, other, 0},
    {"ipv4", 228, ipv4, found, 0},
    // The link type alone says IPv4: a datagram taken as IPv4 by its
    // EtherType and saved keeps whatever its version field held.
    {"ipv4_version_field_6", 228, {0x65, 0x00, 0x00, 0x14}, found, 0},
    {"ipv4_version_field_0", 228, {0x00}, found, 0},
    {"ipv4_empty", 228, {}, other, 0},
    {"unsupported_link", 147, ipv4, LinkFrameKind::unsupported_link, 0},
};

TEST(LinkFrame, FindsTheDatagramOrSaysWhyNot) {
    for (const FrameCase& c : frame_cases) {
        const LinkFrameStart start = ipv4_frame_start(c.link_type, c.frame.data(), c.frame.size());
        EXPECT_EQ(start.kind, c.kind) << c.name;
        EXPECT_EQ(start.offset, c.offset) << c.name;
        EXPECT_EQ(link_type_supported(c.link_type), c.kind != LinkFrameKind::unsupported_link)
            << c.name;
    }
}

// Every frame cut one byte shorter than its datagram start plus one: nothing
// is found, and nothing past the cut is read (the sanitizer build checks that
// on a copy of exactly the cut length).
TEST(LinkFrame, NeverFindsADatagramInAFrameCutBeforeIt) {
    for (const FrameCase& c : frame_cases) {
        if (c.kind != found) {
            continue;
        }
        for (std::size_t cut = 0; cut <= c.offset; ++cut) {
            const Bytes shorter(c.frame.begin(), c.frame.begin() + static_cast<long>(cut));
            const LinkFrameStart start = ipv4_frame_start(c.link_type, shorter.data(), cut);
            EXPECT_EQ(start.kind, other) << c.name << " cut at " << cut;
        }
    }
}

}  // namespace

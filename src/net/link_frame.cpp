// Link-layer headers (libpcap's link-layer header types list): Ethernet II
// with IEEE 802.1Q / 802.1ad tags, Linux cooked capture v1 and v2, the BSD
// loopback headers and raw IP.
#include "net/link_frame.hpp"

namespace {

constexpr std::uint16_t ethertype_ipv4 = 0x0800;
constexpr std::uint16_t ethertype_vlan = 0x8100;  // IEEE 802.1Q
constexpr std::uint16_t ethertype_qinq = 0x88A8;  // IEEE 802.1ad
constexpr std::size_t ethernet_type_offset = 12;  // after two 6-byte addresses
constexpr std::size_t vlan_tag_size = 4;          // the tag's control word and next type
constexpr std::size_t sll_protocol_offset = 14;
constexpr std::size_t sll_header_size = 16;
constexpr std::size_t sll2_protocol_offset = 0;
constexpr std::size_t sll2_header_size = 20;
constexpr std::size_t loopback_header_size = 4;
constexpr std::uint8_t af_inet = 2;  // AF_INET on every system that writes these headers

// True when `need` bytes from `offset` lie within the captured `length`,
// written so that no sum can wrap.
constexpr bool within(std::size_t offset, std::size_t need, std::size_t length) {
    return need <= length && offset <= length - need;
}

constexpr std::uint16_t be16_at(const std::uint8_t* frame, std::size_t offset) {
    return static_cast<std::uint16_t>(frame[offset] << 8 | frame[offset + 1]);
}

constexpr LinkFrameStart skip(LinkFrameKind kind) {
    return LinkFrameStart{kind, 0};
}

// The datagram at `offset`, when at least one of its bytes was captured.
constexpr LinkFrameStart datagram_at(std::size_t offset, std::size_t length) {
    return within(offset, 1, length) ? LinkFrameStart{LinkFrameKind::ipv4, offset}
                                     : skip(LinkFrameKind::not_ipv4);
}

// A 16-bit protocol number at `type_offset` and the datagram at `header_size`.
LinkFrameStart after_type(const std::uint8_t* frame, std::size_t length, std::size_t type_offset,
                          std::size_t header_size) {
    if (!within(type_offset, 2, length) || be16_at(frame, type_offset) != ethertype_ipv4) {
        return skip(LinkFrameKind::not_ipv4);
    }
    return datagram_at(header_size, length);
}

// Each tag moves the type 4 bytes on, so the walk ends at the captured length
// at the latest.
LinkFrameStart after_ethernet(const std::uint8_t* frame, std::size_t length) {
    std::size_t type_offset = ethernet_type_offset;
    while (within(type_offset, 2, length)) {
        const std::uint16_t type = be16_at(frame, type_offset);
        if (type != ethertype_vlan && type != ethertype_qinq) {
            return type == ethertype_ipv4 ? datagram_at(type_offset + 2, length)
                                          : skip(LinkFrameKind::not_ipv4);
        }
        type_offset += vlan_tag_size;
    }
    return skip(LinkFrameKind::not_ipv4);
}

// The family as a 4-byte number: big-endian always for DLT_LOOP, either order
// for DLT_NULL (the byte order of the machine that wrote the file).
LinkFrameStart after_loopback(const std::uint8_t* frame, std::size_t length, bool either_order) {
    if (!within(0, loopback_header_size, length)) {
        return skip(LinkFrameKind::not_ipv4);
    }
    const bool big = frame[0] == 0 && frame[1] == 0 && frame[2] == 0 && frame[3] == af_inet;
    const bool little = frame[0] == af_inet && frame[1] == 0 && frame[2] == 0 && frame[3] == 0;
    if (!(big || (either_order && little))) {
        return skip(LinkFrameKind::not_ipv4);
    }
    return datagram_at(loopback_header_size, length);
}

// Raw IP: the version in the datagram's first byte tells IPv4 from IPv6.
LinkFrameStart raw_datagram(const std::uint8_t* frame, std::size_t length) {
    if (!within(0, 1, length) || frame[0] >> 4 != 4) {
        return skip(LinkFrameKind::not_ipv4);
    }
    return LinkFrameStart{LinkFrameKind::ipv4, 0};
}

}  // namespace

bool link_type_supported(int link_type) {
    switch (link_type) {
        case link_type::bsd_loopback:
        case link_type::ethernet:
        case link_type::raw_ip:
        case link_type::raw_ip_bsdos:
        case link_type::raw_ip_file:
        case link_type::openbsd_loop:
        case link_type::linux_sll:
        case link_type::ipv4:
        case link_type::linux_sll2:
            return true;
        default:
            return false;
    }
}

LinkFrameStart ipv4_frame_start(int link_type, const std::uint8_t* frame, std::size_t length) {
    switch (link_type) {
        case link_type::bsd_loopback:
            return after_loopback(frame, length, true);
        case link_type::openbsd_loop:
            return after_loopback(frame, length, false);
        case link_type::ethernet:
            return after_ethernet(frame, length);
        case link_type::linux_sll:
            return after_type(frame, length, sll_protocol_offset, sll_header_size);
        case link_type::linux_sll2:
            return after_type(frame, length, sll2_protocol_offset, sll2_header_size);
        case link_type::raw_ip:
        case link_type::raw_ip_bsdos:
        case link_type::raw_ip_file:
            return raw_datagram(frame, length);
        case link_type::ipv4:
            // The link type says IPv4, as the EtherType did for the live
            // capture this may have been saved from: the first byte is not
            // asked again, so a datagram shown live reads back whatever its
            // version field holds.
            return datagram_at(0, length);
        default:
            return skip(LinkFrameKind::unsupported_link);
    }
}

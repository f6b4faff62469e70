// Where the IPv4 datagram starts in a captured link-layer frame, for the link
// types a capture file may hold. The link type is the number libpcap's
// pcap_datalink gives (a DLT_ value: a file's LINKTYPE_RAW 101 reads as
// DLT_RAW 12 on Linux). Every read is checked against the captured length.
#pragma once

#include <cstddef>
#include <cstdint>

namespace link_type {
inline constexpr int bsd_loopback = 0;    // DLT_NULL: 4-byte family, writer's byte order
inline constexpr int ethernet = 1;        // DLT_EN10MB, with any 802.1Q / 802.1ad tags
inline constexpr int raw_ip = 12;         // DLT_RAW, IPv4 or IPv6 by the version nibble
inline constexpr int raw_ip_bsdos = 14;   // DLT_RAW as BSD/OS numbered it
inline constexpr int raw_ip_file = 101;   // LINKTYPE_RAW, as the file holds it
inline constexpr int openbsd_loop = 108;  // DLT_LOOP: 4-byte family, network byte order
inline constexpr int linux_sll = 113;     // DLT_LINUX_SLL: 16-byte cooked header
inline constexpr int ipv4 = 228;          // DLT_IPV4: an IPv4 datagram, whatever its first byte
inline constexpr int linux_sll2 = 276;    // DLT_LINUX_SLL2: 20-byte cooked header
}  // namespace link_type

enum class LinkFrameKind {
    ipv4,              // the frame holds an IPv4 datagram from `offset`, at least one byte of it
    not_ipv4,          // another protocol, or a header cut short before the datagram
    unsupported_link,  // a link type this program cannot take apart
};

struct LinkFrameStart {
    LinkFrameKind kind;
    std::size_t offset;  // where the datagram starts; 0 unless kind is ipv4
};

// True for the link types ipv4_frame_start can take apart.
bool link_type_supported(int link_type);

// Where the IPv4 datagram starts in `frame`, of which `length` bytes were
// captured.
LinkFrameStart ipv4_frame_start(int link_type, const std::uint8_t* frame, std::size_t length);

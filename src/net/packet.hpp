// The receive buffer and the only way the rest of the program reads it. The
// IPv4 header (RFC 791) sits at offset 0; the transport header (RFC 792, 793,
// 768) follows it at the header length the datagram gives. The readers take
// the field's offset as a template argument and refuse at compile time any
// read that could leave the 2000-byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "net/address.hpp"

inline constexpr int packet_buffer_size = 2000;

// One received datagram: the bytes, zero beyond `length`, and the count the
// receive returned (1 to 2000).
struct PacketBuffer {
    std::uint8_t bytes[packet_buffer_size];
    int length;
};

// The whole receive buffer, as every renderer and the filter see it.
using PacketBytes = const std::uint8_t (&)[packet_buffer_size];

template <std::size_t Offset>
constexpr std::uint8_t read_u8(PacketBytes packet) {
    static_assert(Offset + 1 <= packet_buffer_size, "read past the receive buffer");
    return packet[Offset];
}

template <std::size_t Offset>
constexpr std::uint16_t read_be16(PacketBytes packet) {
    static_assert(Offset + 2 <= packet_buffer_size, "read past the receive buffer");
    return static_cast<std::uint16_t>(packet[Offset] << 8 | packet[Offset + 1]);
}

template <std::size_t Offset>
constexpr std::uint32_t read_be32(PacketBytes packet) {
    static_assert(Offset + 4 <= packet_buffer_size, "read past the receive buffer");
    return std::uint32_t{packet[Offset]} << 24 | std::uint32_t{packet[Offset + 1]} << 16 |
           std::uint32_t{packet[Offset + 2]} << 8 | std::uint32_t{packet[Offset + 3]};
}

// The 4-byte address at `Offset`, in address order.
template <std::size_t Offset>
constexpr AddressBytes read_address(PacketBytes packet) {
    static_assert(Offset + 4 <= packet_buffer_size, "read past the receive buffer");
    return AddressBytes{
        {packet[Offset], packet[Offset + 1], packet[Offset + 2], packet[Offset + 3]}};
}

// The hex dump's rows: 20 bytes each, the last starting at 1980.
inline constexpr int packet_row_size = 20;
static_assert(packet_buffer_size % packet_row_size == 0, "every row holds 20 whole bytes");

// The 20 bytes of the row that starts at `offset` (a multiple of 20), or of
// the last row when `offset` lies beyond it: never a byte past the buffer.
inline const std::uint8_t* read_row(PacketBytes packet, int offset) {
    constexpr int last_row = packet_buffer_size - packet_row_size;
    return packet + (offset < 0 ? 0 : (offset > last_row ? last_row : offset));
}

// A received length as the renderers may use it: never more than the buffer.
constexpr int clamp_packet_length(int length) {
    return length < 0 ? 0 : (length > packet_buffer_size ? packet_buffer_size : length);
}

// Offsets of the IPv4 header's fields.
namespace packet_offset {
inline constexpr std::size_t version_and_length = 0;
inline constexpr std::size_t type_of_service = 1;
inline constexpr std::size_t total_length = 2;
inline constexpr std::size_t identification = 4;
inline constexpr std::size_t fragment = 6;
inline constexpr std::size_t time_to_live = 8;
inline constexpr std::size_t protocol = 9;
inline constexpr std::size_t header_checksum = 10;
inline constexpr std::size_t source_address = 12;
inline constexpr std::size_t destination_address = 16;
}  // namespace packet_offset

// Offsets of the transport header's fields, from its start.
namespace transport_field {
inline constexpr std::size_t source_port = 0;
inline constexpr std::size_t destination_port = 2;
inline constexpr std::size_t icmp_type = 0;
inline constexpr std::size_t icmp_code = 1;
inline constexpr std::size_t icmp_gateway = 4;
inline constexpr std::size_t tcp_sequence = 4;
inline constexpr std::size_t tcp_acknowledgement = 8;
inline constexpr std::size_t tcp_data_offset = 12;
inline constexpr std::size_t tcp_flags = 13;
inline constexpr std::size_t udp_length = 4;
inline constexpr std::size_t udp_checksum = 6;
}  // namespace transport_field

// Where the transport header starts: 20 to 60.
struct TransportOffset {
    std::size_t value;
};

inline constexpr std::size_t min_ipv4_header = 20;
inline constexpr std::size_t max_ipv4_header = 60;  // a 4-bit length in 32-bit words

// The header length the datagram gives (4 x IHL) when it is at least 20 and
// within the received bytes; otherwise 20, as for a header without options.
constexpr TransportOffset transport_offset(PacketBytes packet, int length) {
    const std::size_t header = std::size_t{packet[packet_offset::version_and_length]} % 16 * 4;
    const bool usable =
        header >= min_ipv4_header && length >= 0 && header <= static_cast<std::size_t>(length);
    return TransportOffset{usable ? header : min_ipv4_header};
}

template <std::size_t Field>
constexpr std::uint8_t read_transport_u8(PacketBytes packet, TransportOffset at) {
    static_assert(max_ipv4_header + Field + 1 <= packet_buffer_size, "read past the buffer");
    return packet[at.value + Field];
}

template <std::size_t Field>
constexpr std::uint16_t read_transport_be16(PacketBytes packet, TransportOffset at) {
    static_assert(max_ipv4_header + Field + 2 <= packet_buffer_size, "read past the buffer");
    return static_cast<std::uint16_t>(packet[at.value + Field] << 8 | packet[at.value + Field + 1]);
}

template <std::size_t Field>
constexpr std::uint32_t read_transport_be32(PacketBytes packet, TransportOffset at) {
    static_assert(max_ipv4_header + Field + 4 <= packet_buffer_size, "read past the buffer");
    const std::size_t i = at.value + Field;
    return std::uint32_t{packet[i]} << 24 | std::uint32_t{packet[i + 1]} << 16 |
           std::uint32_t{packet[i + 2]} << 8 | std::uint32_t{packet[i + 3]};
}

template <std::size_t Field>
constexpr AddressBytes read_transport_address(PacketBytes packet, TransportOffset at) {
    static_assert(max_ipv4_header + Field + 4 <= packet_buffer_size, "read past the buffer");
    const std::size_t i = at.value + Field;
    return AddressBytes{{packet[i], packet[i + 1], packet[i + 2], packet[i + 3]}};
}

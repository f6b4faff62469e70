// The receive buffer and the only way the rest of the program reads it.
// Every header field sits at a fixed offset from the start of the buffer (the
// IPv4 header at 0, the transport header always at 20; RFC 791, 792, 793, 768).
// The readers take the offset as a template argument and refuse at compile
// time any read that would leave the 2000-byte buffer.
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

// Offsets of the fields the program reads.
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
inline constexpr std::size_t source_port = 20;
inline constexpr std::size_t destination_port = 22;
inline constexpr std::size_t icmp_type = 20;
inline constexpr std::size_t icmp_code = 21;
inline constexpr std::size_t icmp_gateway = 24;
inline constexpr std::size_t tcp_sequence = 24;
inline constexpr std::size_t tcp_acknowledgement = 28;
inline constexpr std::size_t tcp_data_offset = 32;
inline constexpr std::size_t tcp_flags = 33;
inline constexpr std::size_t udp_length = 24;
inline constexpr std::size_t udp_checksum = 26;
}  // namespace packet_offset

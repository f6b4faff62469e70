// The receive buffer and the only way the rest of the program reads it.
// Every header field sits at a fixed offset from the start of the buffer (the
// IPv4 header at 0, the transport header always at 20; RFC 791, 792, 793, 768).
// The readers take the offset as a template argument and refuse at compile
// time any read that would leave the 2000-byte buffer.
#pragma once

#include <cstddef>
#include <cstdint>

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

// Datagrams made by hand.
#include "support/bytes.hpp"

#include <algorithm>
#include <cstring>

#include "net/address.hpp"

namespace test_support {

void put_be16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
}

void put_be32(std::uint8_t* at, std::uint32_t value) {
    put_be16(at, static_cast<std::uint16_t>(value >> 16));
    put_be16(at + 2, static_cast<std::uint16_t>(value));
}

void put_be16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    for (std::size_t i = 0; i < 2 && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 - 8 * i));
    }
}

void put_be32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    for (std::size_t i = 0; i < 4 && at + i < bytes.size(); ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
    }
}

std::uint32_t dotted(const char* text) {
    std::uint32_t address = 0;
    return parse_dotted_quad(text, &address) ? address : 0;
}

std::uint16_t ipv4_header_checksum(const std::uint8_t* header, std::size_t length) {
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; i += 2) {
        if (i != 10) {
            sum += static_cast<std::uint32_t>(header[i] << 8 | header[i + 1]);
        }
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return static_cast<std::uint16_t>(~sum);
}

Bytes ipv4_datagram(std::uint8_t protocol, const char* source, const char* destination,
                    const Bytes& payload, std::uint16_t identification, std::uint8_t time_to_live) {
    Bytes bytes(20 + payload.size());
    std::copy(payload.begin(), payload.end(), bytes.begin() + 20);
    bytes[0] = 0x45;
    bytes[1] = 0x10;
    put_be16(bytes, 2, static_cast<std::uint16_t>(20 + payload.size()));
    put_be16(bytes, 4, identification);
    put_be16(bytes, 6, 0x4000);
    bytes[8] = time_to_live;
    bytes[9] = protocol;
    const std::uint32_t from = dotted(source);
    const std::uint32_t to = dotted(destination);
    std::memcpy(&bytes[12], &from, 4);
    std::memcpy(&bytes[16], &to, 4);
    put_be16(bytes, 10, ipv4_header_checksum(bytes.data(), 20));
    return bytes;
}

Bytes tcp_segment(std::uint16_t source_port, std::uint16_t destination_port, std::uint32_t sequence,
                  std::uint32_t acknowledgement, std::uint8_t flags, const std::string& data) {
    Bytes bytes(20);
    put_be16(bytes, 0, source_port);
    put_be16(bytes, 2, destination_port);
    put_be32(bytes, 4, sequence);
    put_be32(bytes, 8, acknowledgement);
    bytes[12] = 0x50;
    bytes[13] = flags;
    put_be16(bytes, 14, 8192);
    put_be16(bytes, 16, 0xBEEF);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

Bytes udp_datagram(std::uint16_t source_port, std::uint16_t destination_port,
                   const std::string& data) {
    Bytes bytes(8);
    put_be16(bytes, 0, source_port);
    put_be16(bytes, 2, destination_port);
    put_be16(bytes, 4, static_cast<std::uint16_t>(8 + data.size()));
    put_be16(bytes, 6, 0xC0DE);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

Bytes icmp_message(std::uint8_t type, std::uint8_t code, std::uint32_t rest) {
    Bytes bytes(8);
    bytes[0] = type;
    bytes[1] = code;
    put_be16(bytes, 2, 0x1234);
    put_be32(bytes, 4, rest);
    return bytes;
}

PacketBuffer received(const Bytes& datagram) {
    PacketBuffer packet{};
    packet.length = static_cast<int>(std::min<std::size_t>(datagram.size(), packet_buffer_size));
    std::memcpy(packet.bytes, datagram.data(), static_cast<std::size_t>(packet.length));
    return packet;
}

}  // namespace test_support

// Datagrams made by hand for the tests, the benchmarks and the fuzz seeds:
// big-endian fields, IPv4 headers with their checksum, TCP, UDP and ICMP
// headers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/packet.hpp"

namespace test_support {

using Bytes = std::vector<std::uint8_t>;

void put_be16(std::uint8_t* at, std::uint16_t value);
void put_be32(std::uint8_t* at, std::uint32_t value);
// Into `bytes` at `at`: the bytes of the field that lie within it.
void put_be16(Bytes& bytes, std::size_t at, std::uint16_t value);
void put_be32(Bytes& bytes, std::size_t at, std::uint32_t value);

// An address in network byte order from dotted-quad text (0 when it is not).
std::uint32_t dotted(const char* text);

// The checksum of an IPv4 header (RFC 791) of `length` bytes, its checksum
// field taken as zero.
std::uint16_t ipv4_header_checksum(const std::uint8_t* header, std::size_t length);

// An IPv4 datagram with a 20-byte header, filled in as the kernel leaves it
// when it sends a header-included datagram (total length and checksum set),
// so that the bytes captured are exactly these.
Bytes ipv4_datagram(std::uint8_t protocol, const char* source, const char* destination,
                    const Bytes& payload, std::uint16_t identification = 0x1234,
                    std::uint8_t time_to_live = 64);

// A TCP header (RFC 793) without options, then `data`.
Bytes tcp_segment(std::uint16_t source_port, std::uint16_t destination_port, std::uint32_t sequence,
                  std::uint32_t acknowledgement, std::uint8_t flags, const std::string& data = {});

// A UDP header (RFC 768) and `data`.
Bytes udp_datagram(std::uint16_t source_port, std::uint16_t destination_port,
                   const std::string& data);

// An ICMP message (RFC 792): type, code, checksum, four more header bytes.
Bytes icmp_message(std::uint8_t type, std::uint8_t code, std::uint32_t rest);

// The datagram as the monitor receives it: zeroed buffer, at most 2000 bytes.
PacketBuffer received(const Bytes& datagram);

}  // namespace test_support

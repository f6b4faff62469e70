// IPv4 addresses as the program keeps them (network byte order, RFC 791) and
// as it counts with them (a number whose most significant byte is the first
// address byte).
#pragma once

#include <bit>
#include <cstdint>

// The four bytes of an address kept in network byte order, in address order.
struct AddressBytes {
    std::uint8_t byte[4];
};

constexpr AddressBytes address_bytes(std::uint32_t network_order) {
    return std::bit_cast<AddressBytes>(network_order);
}

// The address as a number whose most significant byte is the first address
// byte, and back.
constexpr std::uint32_t address_number(std::uint32_t network_order) {
    const AddressBytes a = address_bytes(network_order);
    return std::uint32_t{a.byte[0]} << 24 | std::uint32_t{a.byte[1]} << 16 |
           std::uint32_t{a.byte[2]} << 8 | std::uint32_t{a.byte[3]};
}

constexpr std::uint32_t network_order_address(std::uint32_t number) {
    return std::bit_cast<std::uint32_t>(AddressBytes{
        {static_cast<std::uint8_t>(number >> 24), static_cast<std::uint8_t>(number >> 16),
         static_cast<std::uint8_t>(number >> 8), static_cast<std::uint8_t>(number)}});
}

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

// Reads strict dotted-quad text: exactly four decimal parts of one to three
// digits, each 0-255, separated by single dots, nothing before, between or
// after. A part with a leading zero ("010") is refused, as other readers take
// it for octal. True, with the address in network byte order in `*address`,
// when `text` is such an address; false, leaving `*address` alone, otherwise.
constexpr bool parse_dotted_quad(const char* text, std::uint32_t* address) {
    std::uint32_t number = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (*text != '.') {
                return false;
            }
            ++text;
        }
        if (*text < '0' || *text > '9') {
            return false;
        }
        const bool leading_zero = *text == '0';
        std::uint32_t value = 0;
        int digits = 0;
        while (*text >= '0' && *text <= '9') {
            if (++digits > 3) {
                return false;
            }
            value = value * 10u + static_cast<std::uint32_t>(*text - '0');
            ++text;
        }
        if (value > 255 || (leading_zero && digits > 1)) {
            return false;
        }
        number = number << 8 | value;
    }
    if (*text != '\0') {
        return false;
    }
    *address = network_order_address(number);
    return true;
}

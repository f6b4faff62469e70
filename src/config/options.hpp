// The options record, the command line, the usage text and the options report.
#pragma once

#include <bit>
#include <cstdint>
#include <cstdio>

#include "platform/platform.hpp"

inline constexpr int log_path_size = 260;

struct MonitorOptions {
    std::uint32_t listen_address;  // network byte order
    std::uint8_t show_detail;      // 0/1
    std::uint8_t show_dump;        // 0/1
    std::uint32_t filter_address;  // network byte order; 0 = no address filter
    std::uint32_t filter_width;    // addresses in the range minus one
    std::uint16_t filter_port;     // 0 = no port filter
    char log_path[log_path_size];  // empty = no log file
};

// Where the local addresses come from: the platform, or a test's fake.
extern LocalAddressStatus (*local_address_source)(LocalAddressList* list);

// Fills `list` from local_address_source; on failure prints the failure's
// message to `out` and returns false.
bool find_local_addresses(LocalAddressList* list, std::FILE* out);

// The first local address, or 0 (after printing why) when there is none.
std::uint32_t default_local_address(std::FILE* out = stdout);

// A decimal value read like atoi: leading white space, an optional sign,
// digits up to the first non-digit, accumulated modulo 2^32.
std::uint32_t decimal_value(const char* text);

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

// 1 on success, 0 when the usage was requested (-h), -1 on a bad argument.
int parse_command_line(MonitorOptions& options, int argc, const char* const* argv,
                       std::FILE* out = stdout);

void print_usage(std::FILE* stream = stdout);
void print_options(std::FILE* stream, const MonitorOptions& options);

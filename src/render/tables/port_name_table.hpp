// TCP/UDP port numbers and their service names, in the program's own order,
// ended by a terminator row with port 0 and an empty name.
#pragma once

#include <cstddef>
#include <cstdint>

struct PortNameRow {
    std::uint16_t port;
    const char* name;
};

inline constexpr int port_name_rows = 885;  // without the terminator

extern const PortNameRow PortNameTable[port_name_rows + 1];

// Index of the first row whose port equals `port`, or of the terminator.
int find_port_index(std::uint16_t port);

// The address-range and port filter every datagram goes through: one plain
// value, built once from the options, read by the monitor's own test and by
// the kernel prefilter alike.
#pragma once

#include <cstdint>

#include "net/address.hpp"
#include "net/packet.hpp"

struct CaptureFilter {
    bool has_range;      // false: no address test
    std::uint32_t low;   // first address of the range, as a number
    std::uint32_t high;  // last address, inclusive; below `low` when the range wrapped
    bool has_port;       // false: no port test
    std::uint16_t port;
};

// The filter of a first address (network byte order, 0 = none), a width (the
// number of addresses minus one) and a port (0 = none). The last address is
// the first plus the width modulo 2^32, so a range that wraps holds nothing.
constexpr CaptureFilter make_capture_filter(std::uint32_t first_address, std::uint32_t width,
                                            std::uint16_t port) {
    const std::uint32_t low = address_number(first_address);
    return CaptureFilter{first_address != 0, low, low + width, port != 0, port};
}

// The range rule: low <= address <= high, unsigned, both ends inclusive.
constexpr bool range_holds(const CaptureFilter& filter, std::uint32_t address) {
    return filter.low <= address && address <= filter.high;
}

// True when the datagram (`length` bytes received) is to be shown, false to
// drop it silently: its source or destination lies in the range, and its
// source or destination port is the port, for each test the filter has.
bool packet_passes_filter(const CaptureFilter& filter, PacketBytes packet, int length);

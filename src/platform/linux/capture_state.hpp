// What a capture holds on Linux: the packet socket, the interface it is bound
// to, and its receive ring. Only this backend (and its tests) look inside.
#pragma once

#include <cstddef>
#include <cstdint>

// The receive ring (receive_ring.hpp): the frames the kernel fills in memory
// shared with the program. `frames` is null where there is none.
struct ReceiveRing {
    unsigned char* frames;
    std::size_t bytes;
    std::uint32_t frame_bytes;
    std::uint32_t frame_count;
    std::uint32_t next_frame;
};

struct Capture {
    bool in_use;  // a slot of the backend's table that is open
    int fd;
    int interface_index;
    bool loopback;
    char interface_name[64];
    ReceiveRing ring;
    // The kernel's drop counter, summed here: it zeroes it at every read.
    std::uint64_t dropped;
    // The last receive error said the network was down: the interface may be
    // going away, so an idle wait looks whether it still exists.
    bool network_down;
};

// The receive ring of the Linux capture socket (PACKET_RX_RING, packet(7)):
// frames the kernel fills in memory shared with the program, so that a
// datagram already received costs no system call. The capture socket falls
// back to one recvfrom a datagram where the ring cannot be had.
#pragma once

#include <cstdint>

#include "platform/linux/capture_state.hpp"

// Puts a ring on the capture's bound socket and maps it. False, with errno
// set and the socket left as it was, when the kernel or the locked-memory
// limit refuses it.
bool open_receive_ring(Capture* capture);

// Unmaps the ring and takes it off the socket, which goes back to its queue;
// frames still in the ring are lost. Does nothing where there is no ring.
void close_receive_ring(Capture* capture);

// True when the kernel has filled the next frame of the ring.
bool ring_frame_ready(const Capture* capture);

// What take_ring_frame found in the next frame.
struct RingFrame {
    int length;                     // bytes copied out, at most the capacity
    std::uint32_t original_length;  // the datagram's length before the kernel cut it
    bool ipv4;                      // the frame holds an IPv4 datagram
    bool outgoing;                  // the host sent it
};

// Copies the next frame, which must be ready, into `buffer` (at most
// `capacity` bytes) and gives the frame back to the kernel.
RingFrame take_ring_frame(Capture* capture, unsigned char* buffer, int capacity);

// The kernel prefilter of the Linux capture socket: a classic BPF program
// (SO_ATTACH_FILTER, filter(2) in socket(7)) built from the capture filter.
// It keeps only IPv4 frames, drops the loopback interface's outgoing copies,
// and applies the capture filter at the same offsets as packet_passes_filter
// (the ports after the header length the datagram gives), so that datagrams the monitor would drop
// never wake it. It is conservative: a datagram too short for a field it reads goes up to the
// monitor, whose own filter still decides on every datagram.
#pragma once

#include <linux/filter.h>

#include <cstdint>

#include "net/capture_filter.hpp"
#include "net/packet.hpp"

// Room for the longest program build_prefilter makes.
inline constexpr int prefilter_max_instructions = 32;

struct PrefilterProgram {
    sock_filter instruction[prefilter_max_instructions];
    int count;
};

// The program of `filter`, for a packet socket in cooked mode (the
// program sees each frame from its IPv4 header on). `loopback` adds the test
// that drops frames the host sends, which loopback shows a second time as
// received.
PrefilterProgram build_prefilter(const CaptureFilter& filter, bool loopback);

// Attaches `program` to the packet socket `fd` and throws away what was queued
// before (libpcap's way: a drop-all program first, a non-blocking drain, then
// the real one). False, with errno set, when the program could not be put in
// place; the socket is then left without any program, receiving everything.
bool attach_prefilter(int fd, const PrefilterProgram& program);

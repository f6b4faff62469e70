// The summary view: the port line and one line with time, protocol,
// endpoints and length.
#pragma once

#include <cstddef>
#include <cstdio>

#include "net/clock.hpp"
#include "net/packet.hpp"

// The most bytes one summary (port line and summary line) can take.
inline constexpr std::size_t summary_size_limit = 512;

void print_port_line(std::FILE* stream, PacketBytes packet, int length);

// `time` is the clock reading the line shows (its time of day).
void print_summary(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time);

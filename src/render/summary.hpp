// The summary view: the port line and one line with time, protocol,
// endpoints and length.
#pragma once

#include <cstdio>

#include "net/clock.hpp"
#include "net/packet.hpp"

void print_port_line(std::FILE* stream, PacketBytes packet);

// `time` is the clock reading the line shows (its time of day).
void print_summary(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time);

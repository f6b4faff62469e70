// The summary view: the port line and one line with time, protocol,
// endpoints and length.
#pragma once

#include <cstdio>

#include "monitor/packet.hpp"

void print_port_line(std::FILE* stream, PacketBytes packet);
void print_summary(std::FILE* stream, PacketBytes packet, int length);

// The detail view: the decoded IPv4 header and the ICMP, TCP or UDP header,
// and the console echo shown while a log file is written.
#pragma once

#include <cstdio>

#include "net/clock.hpp"
#include "net/packet.hpp"

// `time` is the clock reading the view shows (its date and whole seconds).
void print_detail(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time);
void print_console_echo(std::FILE* stream, PacketBytes packet, int length);

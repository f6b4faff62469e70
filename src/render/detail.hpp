// The detail view: the decoded IPv4 header and the ICMP, TCP or UDP header,
// and the console echo shown while a log file is written.
#pragma once

#include <cstddef>
#include <cstdio>

#include "net/clock.hpp"
#include "net/packet.hpp"

// The most bytes one detail view, or one console echo, can take.
inline constexpr std::size_t detail_size_limit = 1024;

// `time` is the clock reading the view shows (its date and whole seconds).
void print_detail(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time);
void print_console_echo(std::FILE* stream, PacketBytes packet, int length);

// The console echo's text, for a caller that gathers echoes itself; returns
// its length.
std::size_t format_console_echo(char (&text)[detail_size_limit], PacketBytes packet, int length);

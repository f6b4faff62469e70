// The detail view: the decoded IPv4 header and the ICMP, TCP or UDP header,
// and the console echo shown while a log file is written.
#pragma once

#include <cstdio>

#include "monitor/packet.hpp"

void print_detail(std::FILE* stream, PacketBytes packet, int length);
void print_icmp_block(std::FILE* stream, PacketBytes packet);
void print_tcp_block(std::FILE* stream, PacketBytes packet);
void print_udp_block(std::FILE* stream, PacketBytes packet);
void print_console_echo(std::FILE* stream, PacketBytes packet, int length);

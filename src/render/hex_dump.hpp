// The hex dump: rows of 20 received bytes as offset, words and characters.
#pragma once

#include <cstdio>

#include "net/packet.hpp"

void print_hex_dump(std::FILE* stream, PacketBytes packet, int length);

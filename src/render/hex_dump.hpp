// The hex dump: rows of 20 received bytes as offset, words and characters.
#pragma once

#include <cstddef>
#include <cstdio>

#include "net/packet.hpp"

// The most bytes one dump can take: a line end and 100 rows of 77.
inline constexpr std::size_t hex_dump_size_limit = 1 + 100 * 77;

void print_hex_dump(std::FILE* stream, PacketBytes packet, int length);

// The bodies of the fuzz targets, shared by the libFuzzer wrappers in this
// folder and by the corpus replay in the test suite. Each takes one input,
// runs it through the program and stops the process (abort) when a check on
// the outcome fails; the sanitizers stop it on any memory or undefined-
// behaviour fault. Each returns 0, as libFuzzer wants.
#pragma once

#include <cstddef>
#include <cstdint>

// Every renderer and the packet filter over one datagram. Input: a 15-byte
// header (length mode, received length, filter options), then the datagram.
int fuzz_render_one(const std::uint8_t* data, std::size_t size);

// parse_command_line over the arguments got by splitting the input on NUL.
int fuzz_command_line_one(const std::uint8_t* data, std::size_t size);

// run_setup_dialogue. Input: one byte choosing the fake local addresses and
// the console encoding, then the bytes of standard input.
int fuzz_dialogue_one(const std::uint8_t* data, std::size_t size);

// A capture file read from memory, the receive loop over it and its saved
// datagrams read back. Input: one byte choosing the magic number put before
// the rest, the views and the filters, then the file. Does nothing in a build
// without libpcap.
int fuzz_capture_file_one(const std::uint8_t* data, std::size_t size);

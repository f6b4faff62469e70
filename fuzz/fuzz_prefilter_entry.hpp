// The body of the fuzz_prefilter target, shared with the corpus replay.
#pragma once

#include <cstddef>
#include <cstdint>

// The kernel prefilter, run in a cBPF interpreter, against packet_passes_filter
// over one frame. Input: an 11-byte header (frame kind, filter address, width,
// port), then the frame from its IPv4 header on.
int fuzz_prefilter_one(const std::uint8_t* data, std::size_t size);

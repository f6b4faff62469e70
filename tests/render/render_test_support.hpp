// Helpers shared by the renderer tests: fixed clock readings, a receive buffer of
// exactly 2000 bytes on its own (so the sanitizers see any read past it), and
// the text a renderer writes to a stream.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "net/clock.hpp"
#include "net/packet.hpp"
#include "support/text.hpp"

namespace render_test {

// The clock readings the golden files were made with: the summary line shows
// 09:05:03.042, the detail view Tue Dec 08 04:20:20.
inline constexpr LocalTime fixed_summary_time{2, 11, 8, 9, 5, 3, 42};
inline constexpr LocalTime fixed_detail_time{2, 11, 8, 4, 20, 20, 42};

// A zeroed buffer allocated on its own: a read one byte past it is a heap
// overflow the address sanitizer reports.
struct HeapPacket {
    std::uint8_t bytes[packet_buffer_size];
};

inline std::unique_ptr<HeapPacket> make_packet() {
    return std::make_unique<HeapPacket>();
}

// Runs `render` on a temporary file and returns every byte it wrote.
using test_support::printed;

}  // namespace render_test

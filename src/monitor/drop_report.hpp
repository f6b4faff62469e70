// The kernel's drops, said as they happen: a line on standard error, at most
// once a second, when the kernel dropped datagrams since the last one.
#pragma once

#include <cstdint>

#include "console/console_text.hpp"
#include "monitor/datagram_source.hpp"

struct DropReport {
    std::uint64_t reported;       // the total the last line gave
    std::int64_t checked_second;  // the clock's second of the last look
};

inline constexpr DropReport no_drops_reported{0, -1};

// Looks, once in each second of `now_ns`, whether `source` dropped more.
void report_new_drops(DropReport* report, DatagramSource* source, std::int64_t now_ns,
                      const Console& console);

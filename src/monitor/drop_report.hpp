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

// The slow half of report_new_drops: asks the source's drops, once in
// `second`, and says when there are more.
void report_drops_of_second(DropReport* report, DatagramSource* source, std::int64_t second,
                            const Console& console);

// Looks, once in each second of `now_ns`, whether `source` dropped more.
inline void report_new_drops(DropReport* report, DatagramSource* source, std::int64_t now_ns,
                             const Console& console) {
    const std::int64_t second = now_ns / 1'000'000'000;
    if (second != report->checked_second) {
        report_drops_of_second(report, source, second, console);
    }
}

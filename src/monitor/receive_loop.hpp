// The receive loop: every datagram the source hands on goes through the
// filter and, when it passes, into its account, written whole and in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "config/options.hpp"
#include "monitor/account_writer.hpp"
#include "monitor/datagram_source.hpp"
#include "net/capture_filter.hpp"
#include "platform/console.hpp"

// What the loop asks of the system besides its source: the clock, a nap, the
// stop signal, and how much the console takes without waiting. Tests give
// their own.
struct LoopSystem {
    WallClock (*wall_clock)();
    void (*nap)(int microseconds);
    int (*stop_signal)();
    std::size_t (*stream_room)(std::FILE* stream);
};

extern const LoopSystem platform_loop_system;

// How the loop ended: whether something failed (the monitor then ends with
// status 255), and the stop signal that ended it, if one did (the process is
// then to end as that signal ends it).
struct LoopEnd {
    bool failed;
    int signal;
};

// Receives, filters and writes accounts to `writer` (its log already open,
// if there is one) until a stop signal, the end of the source, the count of
// accounts asked for, a source that fails or goes away, or a write that
// fails. Every way out writes out what is pending, then prints one line of
// counts on the writer's console's error stream; `console_kind` is how the
// console takes writes.
LoopEnd run_receive_loop(DatagramSource* source, const MonitorOptions& options,
                         AccountWriter* writer, StreamKind console_kind,
                         const LoopSystem& system = platform_loop_system);

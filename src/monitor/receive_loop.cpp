// The receive loop. Accounts are written whole and in order. While more
// datagrams are already waiting, their accounts are gathered and written
// together (within the stream's 64 KiB buffer, and never held longer than
// hold_limit_ns by the clock, which moves with every datagram received,
// shown or not); before the loop waits for the next datagram, everything it
// received is written out. In log mode the console echo only repeats the log.
#include "monitor/receive_loop.hpp"

#include "console/failure.hpp"
#include "monitor/console_echo.hpp"
#include "monitor/drop_report.hpp"
#include "platform/clock.hpp"
#include "platform/process.hpp"

namespace {

// Under load, after everything received is written out, the loop sleeps this
// long before it looks for more, so that it wakes once for a group of
// datagrams rather than once for each (every wake-up costs more than an
// account). Load means at least `busy_group` datagrams since the last look
// found none; a datagram on an idle interface is shown at once.
constexpr int busy_nap_us = 100;
constexpr std::uint32_t busy_group = 4;

// How long one wait for a datagram lasts on an idle interface: the loop
// looks at its signals and the kernel's drop count at least this often.
constexpr int idle_wait_ms = 1000;

// What the loop counted, for the line it prints when it ends.
struct LoopCounts {
    std::uint64_t received;      // datagrams the source handed on
    std::uint64_t filtered_out;  // left out by the filter
};

struct Loop {
    CaptureFilter filter;
    DatagramSource* source;
    AccountWriter* writer;
    ConsoleEcho echo;
    DropReport drops;
    LoopCounts counts;
    std::uint32_t since_idle;  // datagrams received since the source was last found idle
    const LoopSystem* system;
    std::uint64_t count;  // accounts to write, then end; 0: no end
};

std::int64_t nanoseconds_of(WallClock when) {
    return when.seconds * 1'000'000'000 + when.nanoseconds;
}

bool write_out_all(Loop* loop) {
    const bool written = write_out_accounts(loop->writer);
    write_out_echoes(&loop->echo);
    return written;
}

// Filters one datagram and writes its account; false when it could not be
// written.
bool take(Loop* loop, const PacketBuffer& packet, Datagram datagram, WallClock now) {
    const std::int64_t now_ns = nanoseconds_of(now);
    ++loop->counts.received;
    ++loop->since_idle;
    if (!packet_passes_filter(loop->filter, packet.bytes, packet.length)) {
        ++loop->counts.filtered_out;
    } else {
        datagram.stamp = datagram.stamped ? datagram.stamp : now;
        if (!write_account(loop->writer, packet, datagram, now_ns)) {
            return false;
        }
        echo_account(&loop->echo, packet);
    }
    return !hold_is_over(*loop->writer, now_ns) || write_out_all(loop);
}

// Nothing waits: everything received is written out, and after a group of
// datagrams the loop naps before it looks again.
bool rest(Loop* loop) {
    const bool written = !loop->writer->holding || write_out_all(loop);
    if (loop->since_idle >= busy_group) {
        loop->system->nap(busy_nap_us);
    }
    loop->since_idle = 0;
    return written;
}

// Why the loop ends.
enum class Ending {
    finished,       // the count of accounts, or the end of the source
    stopped,        // a stop signal
    source_failed,  // the source failed or went away
    write_failed,   // an account could not be written (and the line said so)
};

// At a stop, the datagrams that had come already are shown too, so that
// what was shown and what the kernel dropped add up to what came: as many
// as are waiting now (no more than the source can hold), within the count
// asked for. False when an account could not be written.
bool take_what_waits(Loop* loop) {
    PacketBuffer packet{};
    char reason[600];
    for (int taken = 0; taken < loop->source->waiting_at_most; ++taken) {
        if (loop->count != 0 && loop->writer->written >= loop->count) {
            return true;
        }
        Datagram datagram{};
        if (next_datagram(loop->source, &packet, &datagram, 0, reason, sizeof reason) !=
            SourceResult::datagram) {
            return true;
        }
        if (!take(loop, packet, datagram, loop->system->wall_clock())) {
            return false;
        }
    }
    return true;
}

// The one way out: what is pending is written out (unless writing is what
// failed), the source's reason (if it failed) and the counts are said, and
// the result given.
LoopEnd end_loop(Loop* loop, Ending ending, int signal = 0, const char* reason = nullptr) {
    const Console& console = loop->writer->console;
    bool failed = ending == Ending::source_failed || ending == Ending::write_failed;
    if (ending == Ending::stopped && !take_what_waits(loop)) {
        failed = true;
        ending = Ending::write_failed;
    }
    if (ending != Ending::write_failed && !write_out_all(loop)) {
        failed = true;
    }
    if (reason != nullptr) {
        report_failure_on(console, "%s", reason);
    }
    const CaptureDrops drops = loop->source->drops(loop->source->state);
    char kernel[64] = "";
    if (drops.counted) {
        std::snprintf(kernel, sizeof kernel, "%llu dropped by the kernel, ",
                      static_cast<unsigned long long>(drops.dropped));
    }
    report_note_on(console,
                   "%llu datagrams received, %llu shown, %llu left out by the filter, "
                   "%s%llu console echoes skipped%s",
                   static_cast<unsigned long long>(loop->counts.received),
                   static_cast<unsigned long long>(loop->writer->written),
                   static_cast<unsigned long long>(loop->counts.filtered_out), kernel,
                   static_cast<unsigned long long>(loop->echo.skipped),
                   drops.counted ? "" : " (the kernel's drops are not counted here)");
    return LoopEnd{failed, signal};
}

}  // namespace

const LoopSystem platform_loop_system{platform_wall_clock, platform_nap, platform_stop_signal,
                                      platform_stream_room};

LoopEnd run_receive_loop(DatagramSource* source, const MonitorOptions& options,
                         AccountWriter* writer, StreamKind console_kind, const LoopSystem& system) {
    Loop loop{};
    loop.filter = capture_filter_of(options);
    loop.source = source;
    loop.writer = writer;
    loop.drops = no_drops_reported;
    loop.system = &system;
    loop.count = options.count;
    start_echo(&loop.echo, EchoConsole{writer->console.stream, console_kind, system.stream_room},
               writer->log_path != nullptr);
    PacketBuffer packet{};
    char reason[600];
    for (;;) {
        if (const int signal = system.stop_signal(); signal != 0) {
            return end_loop(&loop, Ending::stopped, signal);
        }
        Datagram datagram{};
        const int wait_ms = writer->holding ? 0 : idle_wait_ms;
        const SourceResult got =
            next_datagram(source, &packet, &datagram, wait_ms, reason, sizeof reason);
        // The clock, read for each datagram and after each wait (not when
        // nothing was waiting for the accounts to be written out).
        WallClock now{};
        if (got != SourceResult::idle || wait_ms != 0) {
            now = system.wall_clock();
            report_new_drops(&loop.drops, source, nanoseconds_of(now), writer->console);
        }
        switch (got) {
            case SourceResult::datagram:
                if (!take(&loop, packet, datagram, now)) {
                    return end_loop(&loop, Ending::write_failed);
                }
                if (loop.count != 0 && writer->written >= loop.count) {
                    return end_loop(&loop, Ending::finished);
                }
                break;
            case SourceResult::idle:
                if (!rest(&loop)) {
                    return end_loop(&loop, Ending::write_failed);
                }
                break;
            case SourceResult::end:
                return end_loop(&loop, Ending::finished);
            case SourceResult::failed:
            case SourceResult::gone:
                return end_loop(&loop, Ending::source_failed, 0, reason);
        }
    }
}

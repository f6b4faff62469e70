// The receive loop. Accounts are written whole and in order. While more
// datagrams are already waiting, their accounts are gathered and written
// together (one write for many, within the stream's 64 KiB buffer and never
// held more than about 10 ms); before the loop waits for the next datagram,
// everything it received is written out. In log mode the console echo only
// repeats the log: an echo the console cannot take without making the loop
// wait is skipped and counted, and the log stays complete.
#include "monitor/receive_loop.hpp"

#include <cerrno>
#include <cstring>

#include "monitor/local_clock.hpp"
#include "monitor/run_monitor.hpp"
#include "net/packet.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"

namespace {

constexpr std::size_t stream_buffer_size = account_buffer_size;

// The longest an account waits in a buffer while others are gathered.
constexpr std::int64_t hold_limit_ns = 10'000'000;

// Under load, after everything received is written out, the loop sleeps this
// long before it looks for more, so that it wakes once for a group of
// datagrams rather than once for each (every wake-up costs more than an
// account). Load means at least `busy_group` datagrams since the last look
// found none; a datagram on an idle interface is shown at once.
constexpr int busy_nap_us = 100;
constexpr std::uint32_t busy_group = 4;

// How long one receive waits on an idle interface: the loop looks at its
// signals and the kernel's drop count at least this often.
constexpr int idle_wait_ms = 1000;

// Echoes gathered in log mode, each kept whole: an echo is at least an
// address line and a blank line, over 40 bytes.
constexpr int max_gathered_echoes = static_cast<int>(stream_buffer_size / 32);

struct EchoBatch {
    char text[stream_buffer_size];
    std::size_t size;
    std::size_t end[max_gathered_echoes];  // where each echo ends in `text`
    int count;
};

struct Loop {
    const MonitorOptions* options;
    CaptureFilter filter;
    std::FILE* accounts;   // the log, or standard output
    const char* log_path;  // nullptr without a log
    CaptureFileWriter* save;
    const char* save_path;
    std::size_t account_limit;
    std::size_t pending;  // at most this many bytes wait in `accounts`'s buffer
    bool has_pending;
    std::uint32_t since_idle;       // datagrams received since a look found none waiting
    std::int64_t first_pending_ns;  // when the oldest waiting account was taken
    std::int64_t now_ns;            // the last clock reading
    EchoBatch echo;
    bool console_gone;   // standard output's reader went away: no more echoes
    StreamKind console;  // whether an echo must ask for room, or is not needed
    LoopCounts counts;
    std::uint64_t drops_reported;
    std::int64_t drops_checked_second;
    LocalClock clock;
};

std::int64_t nanoseconds_of(WallClock when) {
    return when.seconds * 1'000'000'000 + when.nanoseconds;
}

// The most bytes one account can take in the chosen views.
std::size_t account_limit(const MonitorOptions& options) {
    const std::size_t view = options.show_detail != 0 ? detail_size_limit : summary_size_limit;
    return view + (options.show_dump != 0 ? hex_dump_size_limit : 0);
}

bool flush_accounts(Loop* loop) {
    if (!write_out(loop->accounts, loop->log_path)) {
        return false;
    }
    loop->pending = 0;
    return true;
}

// Writes the gathered echoes that the console takes now without waiting,
// whole ones only; the others are skipped and counted.
void flush_echoes(Loop* loop) {
    EchoBatch& echo = loop->echo;
    if (echo.count == 0) {
        return;
    }
    int fit = 0;
    if (!loop->console_gone) {
        const std::size_t room = loop->console == StreamKind::never_waits
                                     ? stream_room_unlimited
                                     : platform_stream_room(stdout);
        while (fit < echo.count && echo.end[fit] <= room) {
            ++fit;
        }
    }
    if (fit > 0) {
        std::fwrite(echo.text, 1, echo.end[fit - 1], stdout);
        errno = 0;
        if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
            // The echo only repeats the log: a console that fails neither
            // ends the monitor nor touches the log. One whose reader went
            // away gets nothing more.
            loop->console_gone = loop->console_gone || errno == EPIPE;
            std::clearerr(stdout);
            fit = 0;
        }
    }
    loop->counts.echoes_skipped += static_cast<std::uint64_t>(echo.count - fit);
    echo.count = 0;
    echo.size = 0;
}

bool flush_all(Loop* loop) {
    loop->has_pending = false;
    bool written = flush_accounts(loop);
    if (loop->save != nullptr && !platform_flush_save_file(loop->save)) {
        std::fprintf(stderr, "pktwatch: capture file %s: cannot write it\n", loop->save_path);
        written = false;
    }
    flush_echoes(loop);
    return written;
}

void gather_echo(Loop* loop, const PacketBuffer& packet) {
    EchoBatch& echo = loop->echo;
    if (echo.count == max_gathered_echoes || echo.size + detail_size_limit > sizeof echo.text) {
        flush_echoes(loop);
    }
    char text[detail_size_limit];
    const std::size_t size = format_console_echo(text, packet.bytes, packet.length);
    std::memcpy(echo.text + echo.size, text, size);
    echo.size += size;
    echo.end[echo.count++] = echo.size;
}

// Writes the account of one accepted datagram (and keeps the datagram in the
// capture file being saved); false when it could not be written.
bool show(Loop* loop, const PacketBuffer& packet, std::uint32_t original_length, WallClock stamp) {
    const LocalTime time = local_time_of(&loop->clock, stamp);
    // The buffer never takes part of an account: it is written out first
    // when the next one might not fit whole.
    if (loop->pending + loop->account_limit > stream_buffer_size && !flush_accounts(loop)) {
        return false;
    }
    const MonitorOptions& options = *loop->options;
    if (options.show_detail != 0) {
        print_detail(loop->accounts, packet.bytes, packet.length, time);
    } else {
        print_summary(loop->accounts, packet.bytes, packet.length, time);
    }
    if (options.show_dump != 0) {
        print_hex_dump(loop->accounts, packet.bytes, packet.length);
    }
    loop->pending += loop->account_limit;
    if (loop->save != nullptr &&
        !platform_save_datagram(loop->save, packet, original_length, stamp)) {
        std::fprintf(stderr, "pktwatch: capture file %s: cannot write it\n", loop->save_path);
        return false;
    }
    if (loop->log_path == nullptr || loop->console == StreamKind::discards) {
        // Without a log the account was the console's text; /dev/null loses
        // an echo anyway.
    } else if (loop->console_gone) {
        ++loop->counts.echoes_skipped;  // no reader will take it: not even made
    } else {
        gather_echo(loop, packet);
    }
    if (!loop->has_pending) {
        loop->has_pending = true;
        loop->first_pending_ns = loop->now_ns;
    }
    ++loop->counts.shown;
    return true;
}

// Once a second: a line on standard error when the kernel dropped more
// datagrams since the last look.
void report_new_drops(Loop* loop, CaptureSocket* capture) {
    if (capture == nullptr) {
        return;
    }
    const std::int64_t second = loop->now_ns / 1'000'000'000;
    if (second == loop->drops_checked_second) {
        return;
    }
    loop->drops_checked_second = second;
    const CaptureDrops drops = platform_capture_drops(capture);
    if (drops.counted && drops.dropped > loop->drops_reported) {
        std::fprintf(stderr, "pktwatch: %llu datagrams dropped by the kernel (total %llu)\n",
                     static_cast<unsigned long long>(drops.dropped - loop->drops_reported),
                     static_cast<unsigned long long>(drops.dropped));
        loop->drops_reported = drops.dropped;
    }
}

// The summary line of what the loop counted, on standard error.
void report_counts(const Loop& loop, CaptureSocket* capture) {
    const LoopCounts& c = loop.counts;
    // A capture file has no kernel to drop anything.
    const CaptureDrops drops =
        capture != nullptr ? platform_capture_drops(capture) : CaptureDrops{0, 0, true};
    char kernel[64] = "";
    if (drops.counted) {
        std::snprintf(kernel, sizeof kernel, "%llu dropped by the kernel, ",
                      static_cast<unsigned long long>(drops.dropped));
    }
    std::fflush(stdout);
    std::fprintf(stderr,
                 "pktwatch: %llu datagrams received, %llu shown, %llu left out by the filter, "
                 "%s%llu console echoes skipped%s\n",
                 static_cast<unsigned long long>(c.received),
                 static_cast<unsigned long long>(c.shown),
                 static_cast<unsigned long long>(c.filtered_out), kernel,
                 static_cast<unsigned long long>(c.echoes_skipped),
                 drops.counted ? "" : " (the kernel's drops are not counted here)");
}

// The next datagram of a capture file into `packet`: its length, 0 for a
// record without one, -1 at the end of the file, -2 (after a line saying
// why) for a bad record.
int read_record(CaptureFileReader* file, PacketBuffer* packet, WallClock* stamp) {
    char reason[256];
    switch (platform_read_capture_file(file, packet, stamp, reason, sizeof reason)) {
        case CaptureFileRead::datagram:
            return packet->length;
        case CaptureFileRead::skipped:
            return 0;
        case CaptureFileRead::end:
            return -1;
        case CaptureFileRead::error:
            break;
    }
    std::fflush(stdout);
    std::fprintf(stderr, "pktwatch: %s: %s\n", file->path, reason);
    return -2;
}

// Writes out what is pending and says what was counted: the end of a capture
// file or of the count asked for.
int end_loop(Loop* loop, CaptureSocket* capture) {
    if (!flush_all(loop)) {
        return monitor_failed;
    }
    report_counts(*loop, capture);
    return monitor_ended;
}

}  // namespace

bool write_out(std::FILE* stream, const char* log_path) {
    errno = 0;
    if (std::fflush(stream) == 0 && std::ferror(stream) == 0) {
        return true;
    }
    const int error = errno != 0 ? errno : EIO;
    std::fflush(stdout);
    if (log_path != nullptr) {
        std::fprintf(stderr, "pktwatch: log file %s: %s\n", log_path, std::strerror(error));
    } else {
        std::fprintf(stderr, "pktwatch: standard output: %s\n", std::strerror(error));
    }
    return false;
}

int run_receive_loop(const DatagramSource& source, const MonitorOptions& options,
                     const CaptureFilter& filter, const AccountOutput& output) {
    CaptureSocket* const capture = source.capture;
    Loop loop{};
    loop.options = &options;
    loop.filter = filter;
    loop.accounts = output.log != nullptr ? output.log : stdout;
    loop.log_path = output.log != nullptr ? output.log_path : nullptr;
    loop.save = output.save;
    loop.save_path = output.save_path;
    loop.account_limit = account_limit(options);
    loop.console = platform_stream_kind(stdout);
    loop.drops_checked_second = -1;
    loop.now_ns = nanoseconds_of(platform_wall_clock());

    PacketBuffer packet{};
    int last_length = 0;
    for (;;) {
        if (const int signal = platform_stop_signal(); signal != 0) {
            flush_all(&loop);
            report_counts(loop, capture);
            platform_end_by_signal(signal);
        }
        // A capture file is one backlog: its accounts go out as the buffer
        // fills, and at its end.
        if (capture != nullptr && loop.has_pending) {
            const bool more = platform_datagram_waiting(capture);
            if (!more || loop.now_ns - loop.first_pending_ns >= hold_limit_ns) {
                if (!flush_all(&loop)) {
                    return monitor_failed;
                }
            }
            if (!more) {
                if (loop.since_idle >= busy_group) {
                    platform_nap(busy_nap_us);
                }
                loop.since_idle = 0;
            }
        }
        report_new_drops(&loop, capture);

        // The bytes beyond a datagram read as zero: only the last one's need
        // clearing.
        std::memset(packet.bytes, 0, static_cast<std::size_t>(last_length));
        last_length = packet_buffer_size;  // until a receive says how much it wrote
        WallClock stamp{};
        std::uint32_t original_length = 0;
        int result = 0;
        if (capture != nullptr) {
            result = platform_receive(capture, packet.bytes, packet_buffer_size,
                                      loop.has_pending ? 0 : idle_wait_ms);
            if (result == receive_interface_gone) {
                flush_all(&loop);
                std::fflush(stdout);
                std::fprintf(
                    stderr, "pktwatch: the interface %s is gone\n",
                    capture->interface_name[0] != '\0' ? capture->interface_name : "being watched");
                return monitor_failed;
            }
            if (result > 0) {
                ++loop.since_idle;
                stamp = platform_wall_clock();
                original_length = static_cast<std::uint32_t>(result);
            } else if (!loop.has_pending) {
                loop.now_ns = nanoseconds_of(platform_wall_clock());
            }
        } else {
            result = read_record(source.file, &packet, &stamp);
            if (result == -1) {
                return end_loop(&loop, capture);
            }
            if (result == -2) {
                flush_all(&loop);
                return monitor_failed;
            }
            original_length = source.file->original_length;
        }
        if (result <= 0) {
            continue;
        }
        packet.length = result > packet_buffer_size ? packet_buffer_size : result;
        last_length = packet.length;
        ++loop.counts.received;
        if (!packet_passes_filter(loop.filter, packet.bytes, packet.length)) {
            ++loop.counts.filtered_out;
            continue;
        }
        loop.now_ns = capture != nullptr ? nanoseconds_of(stamp) : loop.now_ns;
        if (!show(&loop, packet, original_length, stamp)) {
            return monitor_failed;
        }
        if (options.count != 0 && loop.counts.shown >= options.count) {
            return end_loop(&loop, capture);
        }
    }
}

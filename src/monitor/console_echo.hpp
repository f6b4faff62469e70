// The console echo of the log mode: the address line and the transport block
// of each account, which only repeats the log. Echoes are gathered and
// written together with the accounts; an echo the console cannot take
// without making the monitor wait (a slow terminal, a pipe nobody reads) is
// skipped and counted, and a console whose reader went away gets no more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "net/packet.hpp"
#include "platform/console.hpp"

// What the echo asks of the console: how it takes writes (asked once), and
// how many bytes it takes now without waiting.
struct EchoConsole {
    std::FILE* stream;
    StreamKind kind;
    std::size_t (*room)(std::FILE* stream);
};

inline constexpr std::size_t echo_batch_size = 64 * 1024;
// An echo is at least an address line and a blank line, over 40 bytes.
inline constexpr int max_gathered_echoes = static_cast<int>(echo_batch_size / 32);

struct ConsoleEcho {
    EchoConsole console;
    bool wanted;  // the log mode, and a console that keeps what it is given
    bool gone;    // the console's reader went away: no more echoes
    std::uint64_t skipped;
    char text[echo_batch_size];
    std::size_t size;
    std::size_t end[max_gathered_echoes];  // where each echo ends in `text`
    int count;
};

// `log_mode`: the accounts go to a log, so the console gets echoes; none are
// made for the null device.
void start_echo(ConsoleEcho* echo, const EchoConsole& console, bool log_mode);

// The echo of one account, gathered (or counted as skipped where no reader
// will take it).
void echo_account(ConsoleEcho* echo, const PacketBuffer& packet);

// Writes the gathered echoes the console takes now without waiting, whole
// ones only; the others are skipped and counted.
void write_out_echoes(ConsoleEcho* echo);

// The console echo, gathered and written as the console can take it.
#include "monitor/console_echo.hpp"

#include <cerrno>
#include <cstring>

#include "render/detail.hpp"

void start_echo(ConsoleEcho* echo, const EchoConsole& console, bool log_mode) {
    echo->console = console;
    echo->wanted = log_mode && console.kind != StreamKind::discards;
    echo->gone = false;
    echo->skipped = 0;
    echo->size = 0;
    echo->count = 0;
}

void echo_account(ConsoleEcho* echo, const PacketBuffer& packet) {
    if (!echo->wanted) {
        return;
    }
    if (echo->gone) {
        ++echo->skipped;  // no reader will take it: not even made
        return;
    }
    if (echo->count == max_gathered_echoes || echo->size + detail_size_limit > sizeof echo->text) {
        write_out_echoes(echo);
    }
    char text[detail_size_limit];
    const std::size_t size = format_console_echo(text, packet.bytes, packet.length);
    std::memcpy(echo->text + echo->size, text, size);
    echo->size += size;
    echo->end[echo->count++] = echo->size;
}

void write_out_echoes(ConsoleEcho* echo) {
    if (echo->count == 0) {
        return;
    }
    std::FILE* const stream = echo->console.stream;
    int fit = 0;
    if (!echo->gone) {
        const std::size_t room = echo->console.kind == StreamKind::never_waits
                                     ? stream_room_unlimited
                                     : echo->console.room(stream);
        while (fit < echo->count && echo->end[fit] <= room) {
            ++fit;
        }
    }
    if (fit > 0) {
        std::fwrite(echo->text, 1, echo->end[fit - 1], stream);
        errno = 0;
        if (std::fflush(stream) != 0 || std::ferror(stream) != 0) {
            // The echo only repeats the log: a console that fails neither
            // ends the monitor nor touches the log. One whose reader went
            // away gets nothing more.
            echo->gone = echo->gone || errno == EPIPE;
            std::clearerr(stream);
            fit = 0;
        }
    }
    echo->skipped += static_cast<std::uint64_t>(echo->count - fit);
    echo->count = 0;
    echo->size = 0;
}

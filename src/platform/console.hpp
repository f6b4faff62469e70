// The console: the encoding its Japanese text wants, text written the
// platform's own way, and how standard output takes writes.
#pragma once

#include <cstddef>
#include <cstdio>

enum class ConsoleEncoding {
    shift_jis,  // code page 932 bytes
    utf8,
};

// Prepares the console (locale and the like) and tells which encoding its
// Japanese text wants. Called once, at start-up.
ConsoleEncoding platform_console_init();

// Writes `utf8` (`length` bytes of UTF-8) to `stream` when the platform has a
// better way than bytes for it (a Windows console takes UTF-16). Returns false
// when the stream wants plain encoded bytes, so the caller writes them.
bool platform_write_console_text(std::FILE* stream, const char* utf8, std::size_t length);

// True when `first` and `second` write to the same terminal, so that a line
// one of them leaves without its end runs on into what the other writes next.
// False for files, pipes and the null device, and where the platform cannot
// tell.
bool platform_same_terminal(std::FILE* first, std::FILE* second);

// How many bytes `stream` takes now without making the program wait: 0 for a
// slow terminal or a pipe nobody reads, stream_room_unlimited for a file (and
// where the platform cannot tell, or the stream is in error, so that the write
// goes ahead and reports it).
inline constexpr std::size_t stream_room_unlimited = static_cast<std::size_t>(-1);
std::size_t platform_stream_room(std::FILE* stream);

// How `stream` takes writes, asked once: a file or a device that is not a
// terminal never makes the writer wait, so its room need not be asked before
// each write; the null device loses what is written to it anyway.
enum class StreamKind { may_wait, never_waits, discards };
StreamKind platform_stream_kind(std::FILE* stream);

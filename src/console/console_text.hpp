// Japanese text on the console. Every message is kept once, in UTF-8, and
// written through console_text/console_printf in the console's encoding:
// Shift-JIS (code page 932) bytes, or UTF-8 where the console is UTF-8.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/console.hpp"

#if defined(__MINGW32__)
#define PKTWATCH_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#else
#define PKTWATCH_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#endif

// A stream for the program's messages and the encoding its Japanese text is
// written in (from platform_console_init, once, at start-up), and where its
// failure lines go (console/failure.hpp).
struct Console {
    std::FILE* stream;
    ConsoleEncoding encoding;
    std::FILE* errors = stderr;
};

// Converts UTF-8 text to Shift-JIS into `out` (at most `size` bytes, always
// terminated when size > 0). A character without a Shift-JIS code becomes "?".
// Returns the length written.
std::size_t utf8_to_shift_jis(const char* utf8, char* out, std::size_t size);

// Writes UTF-8 `text` to the console's stream in its encoding.
void console_text(const Console& console, const char* text);

// Formats like fprintf (ASCII arguments only), then writes like console_text.
void console_printf(const Console& console, const char* format, ...) PKTWATCH_PRINTF(2, 3);

// The Windows console: Japanese text goes to a console as UTF-16 with
// WriteConsoleW, so it reads right whatever the console's code page; to a
// file or a pipe it goes as Shift-JIS (code page 932) bytes.
#include <windows.h>

#include <io.h>

#include <cstdint>
#include <cstdio>

#include "platform/console.hpp"

namespace {

// UTF-8 bytes converted per WriteConsoleW call; a piece never ends inside a
// character.
constexpr std::size_t piece_bytes = 512;

bool is_continuation_byte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The length of the next piece of `utf8`, at most piece_bytes, cut before a
// character's first byte.
std::size_t next_piece(const char* utf8, std::size_t remaining) {
    if (remaining <= piece_bytes) {
        return remaining;
    }
    std::size_t length = piece_bytes;
    while (length > 0 && is_continuation_byte(utf8[length])) {
        --length;
    }
    return length > 0 ? length : piece_bytes;
}

void write_utf16(HANDLE console, const char* utf8, std::size_t length) {
    wchar_t wide[piece_bytes];
    while (length > 0) {
        const std::size_t piece = next_piece(utf8, length);
        const int units = MultiByteToWideChar(CP_UTF8, 0, utf8, static_cast<int>(piece), wide,
                                              static_cast<int>(piece_bytes));
        const wchar_t* unwritten = wide;
        DWORD left = units > 0 ? static_cast<DWORD>(units) : 0;
        while (left > 0) {
            DWORD written = 0;
            if (!WriteConsoleW(console, unwritten, left, &written, nullptr) || written == 0) {
                return;
            }
            unwritten += written;
            left -= written;
        }
        utf8 += piece;
        length -= piece;
    }
}

// The console handle behind `stream`; nullptr for a file, a pipe or a stream
// without a handle.
HANDLE console_of(std::FILE* stream) {
    const int descriptor = _fileno(stream);
    if (descriptor < 0) {
        return nullptr;
    }
    const std::intptr_t os_handle = _get_osfhandle(descriptor);
    if (os_handle == -1) {
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(os_handle);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) ? handle : nullptr;
}

}  // namespace

ConsoleEncoding platform_console_init() {
    // The Japanese texts' own encoding: what a redirected output receives.
    return ConsoleEncoding::shift_jis;
}

bool platform_write_console_text(std::FILE* stream, const char* utf8, std::size_t length) {
    const HANDLE console = console_of(stream);
    if (console == nullptr) {
        return false;  // a file or a pipe: it gets the encoded bytes
    }
    // What the stream holds must come out before this text.
    std::fflush(stream);
    write_utf16(console, utf8, length);
    return true;
}

// A process has one console at most: two streams on console handles show
// in the same window.
bool platform_same_terminal(std::FILE* first, std::FILE* second) {
    return console_of(first) != nullptr && console_of(second) != nullptr;
}

std::size_t platform_stream_room(std::FILE* /*stream*/) {
    // Windows has no cheap way to ask a console or a pipe: write as before.
    return stream_room_unlimited;
}

StreamKind platform_stream_kind(std::FILE* /*stream*/) {
    return StreamKind::never_waits;  // the same answer as above, once
}

// A fixed-size text buffer the views build one account in, then write to
// their stream with one call. The put_ functions write exactly what the
// printf conversions named beside them write, and never past the buffer: text
// beyond its capacity is left out (no view comes near it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "net/address.hpp"

template <std::size_t Capacity>
struct TextBuffer {
    char text[Capacity];
    std::size_t size;
};

template <std::size_t Capacity>
inline void put_char(TextBuffer<Capacity>* out, char c) {
    if (out->size < Capacity) {
        out->text[out->size++] = c;
    }
}

// "%s"
template <std::size_t Capacity>
inline void put_text(TextBuffer<Capacity>* out, const char* text) {
    for (; *text != '\0' && out->size < Capacity; ++text) {
        out->text[out->size++] = *text;
    }
}

// A string literal, without looking for its end.
template <std::size_t Capacity, std::size_t Length>
inline void put_literal(TextBuffer<Capacity>* out, const char (&literal)[Length]) {
    constexpr std::size_t count = Length - 1;
    if (count <= Capacity - out->size) {
        std::memcpy(out->text + out->size, literal, count);
        out->size += count;
        return;
    }
    for (std::size_t i = 0; i < count && out->size < Capacity; ++i) {
        out->text[out->size++] = literal[i];
    }
}

// `count` bytes of `bytes`, as much as fits.
template <std::size_t Capacity>
inline void put_bytes(TextBuffer<Capacity>* out, const char* bytes, std::size_t count) {
    const std::size_t fits = count <= Capacity - out->size ? count : Capacity - out->size;
    std::memcpy(out->text + out->size, bytes, fits);
    out->size += fits;
}

// The decimal digits of `value`, as "%u" writes them, at `out` (room for
// ten); returns the end.
inline char* write_decimal(char* out, std::uint32_t value) {
    char reversed[10];
    int count = 0;
    do {
        reversed[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (count > 0) {
        *out++ = reversed[--count];
    }
    return out;
}

// "%u", or "%0<width>u" when `width` is above 1.
template <std::size_t Capacity>
inline void put_unsigned(TextBuffer<Capacity>* out, std::uint32_t value, int width = 1) {
    char digits[10];
    const char* const end = write_decimal(digits, value);
    for (auto pad = end - digits; pad < width; ++pad) {
        put_char(out, '0');
    }
    for (const char* digit = digits; digit != end; ++digit) {
        put_char(out, *digit);
    }
}

// "%d", or "%0<width>d": the sign counts toward the width, zeros go after it.
template <std::size_t Capacity>
inline void put_int(TextBuffer<Capacity>* out, int value, int width = 1) {
    if (value < 0) {
        put_char(out, '-');
        // The magnitude as unsigned, INT_MIN included.
        put_unsigned(out, 0u - static_cast<std::uint32_t>(value), width - 1);
    } else {
        put_unsigned(out, static_cast<std::uint32_t>(value), width);
    }
}

// "%04X": upper-case hex digits, at least four.
template <std::size_t Capacity>
inline void put_hex4(TextBuffer<Capacity>* out, std::uint32_t value) {
    constexpr char hex_digits[] = "0123456789ABCDEF";
    char digits[8];
    int count = 0;
    do {
        digits[count++] = hex_digits[value & 0x0F];
        value >>= 4;
    } while (value != 0);
    for (int pad = count; pad < 4; ++pad) {
        put_char(out, '0');
    }
    while (count > 0) {
        put_char(out, digits[--count]);
    }
}

// "%d.%d.%d.%d" of four address bytes.
template <std::size_t Capacity>
inline void put_address(TextBuffer<Capacity>* out, const AddressBytes& address) {
    put_unsigned(out, address.byte[0]);
    put_char(out, '.');
    put_unsigned(out, address.byte[1]);
    put_char(out, '.');
    put_unsigned(out, address.byte[2]);
    put_char(out, '.');
    put_unsigned(out, address.byte[3]);
}

// The whole text, in one call.
template <std::size_t Capacity>
inline void write_text(std::FILE* stream, const TextBuffer<Capacity>& out) {
    std::fwrite(out.text, 1, out.size, stream);
}

// The hex dump: the received bytes of one IPv4 datagram (RFC 791), header and
// payload alike, as rows of a decimal offset, ten 16-bit words and 20 characters.
#include "render/hex_dump.hpp"

#include <cstddef>
#include <cstdint>

#include "render/text_buffer.hpp"

namespace {

constexpr int words_per_row = packet_row_size / 2;

// "[0000]", ten cells of five characters, 20 characters, the line end.
constexpr std::size_t row_text_size = 6 + words_per_row * 5 + packet_row_size + 1;
constexpr std::size_t max_rows = packet_buffer_size / packet_row_size;

// The whole dump is built in one piece of text and written with one call.
using DumpText = TextBuffer<1 + max_rows * row_text_size>;
static_assert(1 + max_rows * row_text_size == hex_dump_size_limit);

constexpr char hex_digits[] = "0123456789ABCDEF";

// Two upper-case hex digits, as "%02X" writes a byte.
void put_hex_byte(DumpText* dump, std::uint8_t byte) {
    put_char(dump, hex_digits[byte >> 4]);
    put_char(dump, hex_digits[byte & 0x0F]);
}

// "[%04d]" for a row offset of 0 to 1980.
void put_row_offset(DumpText* dump, int offset) {
    put_char(dump, '[');
    put_unsigned(dump, static_cast<std::uint32_t>(offset), 4);
    put_char(dump, ']');
}

// "%04X " of the word whose low-order byte is the first of the pair.
void put_word_cell(DumpText* dump, std::uint8_t first, std::uint8_t second) {
    put_hex_byte(dump, second);
    put_hex_byte(dump, first);
    put_char(dump, ' ');
}

// All 20 bytes of a row at `out`, the zeros beyond the length included, then
// the line end: only printable ASCII reaches the stream.
void make_characters(char* out, const std::uint8_t* row) {
    for (int i = 0; i < packet_row_size; ++i) {
        const std::uint8_t byte = row[i];
        out[i] = byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.';
    }
    out[packet_row_size] = '\n';
}

// A row that is not the last: its offset, ten cells and the characters,
// made in place in the dump, whose size has room for every row.
void put_full_row(DumpText* dump, const std::uint8_t* row, int offset) {
    if (sizeof dump->text - dump->size < row_text_size) {
        return;
    }
    char* const line = dump->text + dump->size;
    line[0] = '[';
    line[1] = static_cast<char>('0' + offset / 1000 % 10);
    line[2] = static_cast<char>('0' + offset / 100 % 10);
    line[3] = static_cast<char>('0' + offset / 10 % 10);
    line[4] = static_cast<char>('0' + offset % 10);
    line[5] = ']';
    char* cell = line + 6;
    for (int word = 0; word < words_per_row; ++word) {
        const std::uint8_t first = row[2 * word];
        const std::uint8_t second = row[2 * word + 1];
        cell[0] = hex_digits[second >> 4];
        cell[1] = hex_digits[second & 0x0F];
        cell[2] = hex_digits[first >> 4];
        cell[3] = hex_digits[first & 0x0F];
        cell[4] = ' ';
        cell += 5;
    }
    make_characters(cell, row);
    dump->size += row_text_size;
}

// The last row, after its offset: words while two bytes remain, then the odd
// byte, then empty cells; then the characters.
void put_last_row(DumpText* dump, const std::uint8_t* row, int remaining) {
    int left = remaining;
    for (int word = 0; word < words_per_row; ++word) {
        if (left >= 2) {
            put_word_cell(dump, row[2 * word], row[2 * word + 1]);
            left -= 2;
        } else if (left == 1) {
            put_hex_byte(dump, row[2 * word]);
            put_literal(dump, "-- ");
            left = 0;
        } else {
            put_literal(dump, "---- ");
        }
    }
    char characters[packet_row_size + 1];
    make_characters(characters, row);
    put_bytes(dump, characters, sizeof characters);
}

}  // namespace

void print_hex_dump(std::FILE* stream, PacketBytes packet, int length) {
    DumpText dump;
    dump.size = 0;
    put_char(&dump, '\n');

    // A length outside 0..2000 never makes a row read past the buffer: with
    // the clamped length every row starts at offset 1980 or below.
    int offset = 0;
    int remaining = clamp_packet_length(length);
    do {
        const std::uint8_t* row = read_row(packet, offset);
        if (remaining > packet_row_size) {
            put_full_row(&dump, row, offset);
        } else {
            put_row_offset(&dump, offset);
            put_last_row(&dump, row, remaining);
        }
        offset += packet_row_size;
        remaining -= packet_row_size;
    } while (remaining > 0);

    write_text(stream, dump);
}

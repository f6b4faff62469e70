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
        put_row_offset(&dump, offset);

        if (remaining > packet_row_size) {
            for (int word = 0; word < words_per_row; ++word) {
                put_word_cell(&dump, row[2 * word], row[2 * word + 1]);
            }
        } else {
            // The last row: words while two bytes remain, then the odd byte,
            // then empty cells.
            int left = remaining;
            for (int word = 0; word < words_per_row; ++word) {
                if (left >= 2) {
                    put_word_cell(&dump, row[2 * word], row[2 * word + 1]);
                    left -= 2;
                } else if (left == 1) {
                    put_hex_byte(&dump, row[2 * word]);
                    put_literal(&dump, "-- ");
                    left = 0;
                } else {
                    put_literal(&dump, "---- ");
                }
            }
        }

        // All 20 bytes of the row, the zeros beyond the length included;
        // only printable ASCII reaches the stream.
        for (int i = 0; i < packet_row_size; ++i) {
            const std::uint8_t byte = row[i];
            put_char(&dump, byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.');
        }
        put_char(&dump, '\n');

        offset += packet_row_size;
        remaining -= packet_row_size;
    } while (remaining > 0);

    write_text(stream, dump);
}

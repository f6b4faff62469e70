// The hex dump: the received bytes of one IPv4 datagram (RFC 791), header and
// payload alike, as rows of a decimal offset, ten 16-bit words and 20 characters.
#include "render/hex_dump.hpp"

#include <cstddef>
#include <cstdint>

namespace {

constexpr int bytes_per_row = 20;
constexpr int words_per_row = bytes_per_row / 2;

// "[0000]", ten cells of five characters, 20 characters, the line end.
constexpr int row_text_size = 6 + words_per_row * 5 + bytes_per_row + 1;
constexpr int max_rows = packet_buffer_size / bytes_per_row;
static_assert(packet_buffer_size % bytes_per_row == 0, "every row reads 20 whole bytes");

constexpr char hex_digits[] = "0123456789ABCDEF";

// The whole dump is built in one piece of text and written with one call.
struct DumpText {
    char text[1 + max_rows * row_text_size];
    std::size_t size;
};

void put_char(DumpText* dump, char c) {
    dump->text[dump->size++] = c;
}

// Two upper-case hex digits, as "%02X" writes a byte.
void put_hex_byte(DumpText* dump, std::uint8_t byte) {
    put_char(dump, hex_digits[byte >> 4]);
    put_char(dump, hex_digits[byte & 0x0F]);
}

// "[%04d]" for a row offset of 0 to 1980.
void put_row_offset(DumpText* dump, int offset) {
    put_char(dump, '[');
    put_char(dump, static_cast<char>('0' + offset / 1000 % 10));
    put_char(dump, static_cast<char>('0' + offset / 100 % 10));
    put_char(dump, static_cast<char>('0' + offset / 10 % 10));
    put_char(dump, static_cast<char>('0' + offset % 10));
    put_char(dump, ']');
}

// "%04X " of the word whose low-order byte is the first of the pair.
void put_word_cell(DumpText* dump, std::uint8_t first, std::uint8_t second) {
    put_hex_byte(dump, second);
    put_hex_byte(dump, first);
    put_char(dump, ' ');
}

void put_text_cell(DumpText* dump, const char* cell) {
    for (; *cell != '\0'; ++cell) {
        put_char(dump, *cell);
    }
}

}  // namespace

void print_hex_dump(std::FILE* stream, PacketBytes packet, int length) {
    DumpText dump;
    dump.size = 0;
    put_char(&dump, '\n');

    // A length outside 0..2000 never makes a row read past the buffer: with
    // the clamped length every row starts at offset 1980 or below, so its
    // bytes are indexes 0 to 1999.
    int offset = 0;
    int remaining = clamp_packet_length(length);
    do {
        const std::uint8_t* row = packet + offset;
        put_row_offset(&dump, offset);

        if (remaining > bytes_per_row) {
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
                    put_text_cell(&dump, "-- ");
                    left = 0;
                } else {
                    put_text_cell(&dump, "---- ");
                }
            }
        }

        // All 20 bytes of the row, the zeros beyond the length included;
        // only printable ASCII reaches the stream.
        for (int i = 0; i < bytes_per_row; ++i) {
            const std::uint8_t byte = row[i];
            put_char(&dump, byte >= 0x20 && byte <= 0x7E ? static_cast<char>(byte) : '.');
        }
        put_char(&dump, '\n');

        offset += bytes_per_row;
        remaining -= bytes_per_row;
    } while (remaining > 0);

    std::fwrite(dump.text, 1, dump.size, stream);
}

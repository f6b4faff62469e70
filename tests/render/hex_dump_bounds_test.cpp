// The hex dump with lengths the receive can never give: it keeps to the
// 2000-byte buffer (the sanitizer build reports any read past it) and to at
// most 100 rows.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <string>

#include "render/hex_dump.hpp"
#include "render_test_support.hpp"

namespace {

std::string dump(int length) {
    auto packet = render_test::make_packet();
    std::fill(std::begin(packet->bytes), std::end(packet->bytes), std::uint8_t{0x41});
    return render_test::printed(
        [&](std::FILE* stream) { print_hex_dump(stream, packet->bytes, length); });
}

std::ptrdiff_t row_count(const std::string& text) {
    return std::count(text.begin(), text.end(), '\n') - 1;  // the leading line end
}

TEST(HexDumpBounds, LengthsAboveTheBufferStopAtItsEnd) {
    const std::string full = dump(2000);
    ASSERT_EQ(row_count(full), 100);
    const std::string last_row =
        "[1980]4141 4141 4141 4141 4141 4141 4141 4141 4141 4141 AAAAAAAAAAAAAAAAAAAA\n";
    EXPECT_EQ(full.substr(full.size() - last_row.size()), last_row);

    for (const int length : {2001, 2020, 5000, INT_MAX}) {
        EXPECT_EQ(dump(length), full) << "length " << length;
    }
}

TEST(HexDumpBounds, LengthsBelowOneGiveOneEmptyRow) {
    // The rows are written before the remaining count is tested, so even no
    // byte at all gives one row of empty cells; its characters are the
    // buffer's first 20 bytes, as on every last row.
    const std::string empty_row =
        "\n[0000]---- ---- ---- ---- ---- ---- ---- ---- ---- ---- AAAAAAAAAAAAAAAAAAAA\n";
    for (const int length : {0, -3, INT_MIN}) {
        EXPECT_EQ(dump(length), empty_row) << "length " << length;
    }
}

TEST(HexDumpBounds, EveryRowIsSeventySixCharacters) {
    for (const int length : {1, 19, 20, 39, 40, 1999, 2000}) {
        const std::string text = dump(length);
        std::size_t start = 1;
        long rows = 0;
        while (start < text.size()) {
            const auto end = text.find('\n', start);
            ASSERT_NE(end, std::string::npos);
            EXPECT_EQ(end - start, 76u) << "length " << length << ", row " << rows;
            start = end + 1;
            ++rows;
        }
        EXPECT_EQ(rows, (length + 19) / 20) << "length " << length;
    }
}

}  // namespace

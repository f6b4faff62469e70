// Japanese text on the console: UTF-8 as kept in the source, or Shift-JIS
// (code page 932) bytes for a console that wants them.
#include "console/console_text.hpp"

#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <iterator>

namespace {

struct ShiftJisCode {
    char32_t code_point;
    std::uint16_t code;  // lead byte in the high 8 bits, trail byte in the low 8
};

// The code page 932 codes of exactly the non-ASCII characters of the
// program's messages (console/messages.hpp), sorted by code point.
constexpr ShiftJisCode shift_jis_table[] = {
    {0x203B, 0x81A6},  // ※
    {0x3002, 0x8142},  // 。
    {0x3042, 0x82A0},  // あ
    {0x3044, 0x82A2},  // い
    {0x304B, 0x82A9},  // か
    {0x304C, 0x82AA},  // が
    {0x304D, 0x82AB},  // き
    {0x304F, 0x82AD},  // く
    {0x3053, 0x82B1},  // こ
    {0x3055, 0x82B3},  // さ
    {0x3057, 0x82B5},  // し
    {0x3059, 0x82B7},  // す
    {0x305B, 0x82B9},  // せ
    {0x305F, 0x82BD},  // た
    {0x3060, 0x82BE},  // だ
    {0x3064, 0x82C2},  // つ
    {0x3066, 0x82C4},  // て
    {0x3067, 0x82C5},  // で
    {0x3068, 0x82C6},  // と
    {0x306B, 0x82C9},  // に
    {0x306E, 0x82CC},  // の
    {0x306F, 0x82CD},  // は
    {0x307E, 0x82DC},  // ま
    {0x3089, 0x82E7},  // ら
    {0x308A, 0x82E8},  // り
    {0x308B, 0x82E9},  // る
    {0x308C, 0x82EA},  // れ
    {0x3092, 0x82F0},  // を
    {0x3093, 0x82F1},  // ん
    {0x30A1, 0x8340},  // ァ
    {0x30A2, 0x8341},  // ア
    {0x30A3, 0x8342},  // ィ
    {0x30A4, 0x8343},  // イ
    {0x30AA, 0x8349},  // オ
    {0x30AF, 0x834E},  // ク
    {0x30B0, 0x834F},  // グ
    {0x30B9, 0x8358},  // ス
    {0x30BF, 0x835E},  // タ
    {0x30C0, 0x835F},  // ダ
    {0x30C3, 0x8362},  // ッ
    {0x30C8, 0x8367},  // ト
    {0x30C9, 0x8368},  // ド
    {0x30CA, 0x8369},  // ナ
    {0x30CD, 0x836C},  // ネ
    {0x30D0, 0x836F},  // バ
    {0x30D5, 0x8374},  // フ
    {0x30D6, 0x8375},  // ブ
    {0x30D7, 0x8376},  // プ
    {0x30D8, 0x8377},  // ヘ
    {0x30DD, 0x837C},  // ポ
    {0x30E9, 0x8389},  // ラ
    {0x30EA, 0x838A},  // リ
    {0x30EB, 0x838B},  // ル
    {0x30EC, 0x838C},  // レ
    {0x30ED, 0x838D},  // ロ
    {0x30EF, 0x838F},  // ワ
    {0x30F3, 0x8393},  // ン
    {0x30FC, 0x815B},  // ー
    {0x4E0A, 0x8FE3},  // 上
    {0x4E0B, 0x89BA},  // 下
    {0x4E2D, 0x9286},  // 中
    {0x4E86, 0x97B9},  // 了
    {0x4EE5, 0x88C8},  // 以
    {0x4F55, 0x89BD},  // 何
    {0x500B, 0x8CC2},  // 個
    {0x5165, 0x93FC},  // 入
    {0x51FA, 0x8F6F},  // 出
    {0x529B, 0x97CD},  // 力
    {0x5316, 0x89BB},  // 化
    {0x53CE, 0x8EFB},  // 収
    {0x53D6, 0x8EE6},  // 取
    {0x53F7, 0x8D86},  // 号
    {0x540D, 0x96BC},  // 名
    {0x5411, 0x8CFC},  // 向
    {0x5931, 0x8EB8},  // 失
    {0x5B9A, 0x92E8},  // 定
    {0x5E45, 0x959D},  // 幅
    {0x5EA6, 0x9378},  // 度
    {0x5F97, 0x93BE},  // 得
    {0x5FC5, 0x954B},  // 必
    {0x629E, 0x91F0},  // 択
    {0x6307, 0x8E77},  // 指
    {0x63CF, 0x9560},  // 描
    {0x6557, 0x9473},  // 敗
    {0x66F8, 0x8F91},  // 書
    {0x6B62, 0x8E7E},  // 止
    {0x6B63, 0x90B3},  // 正
    {0x70BA, 0x88D7},  // 為
    {0x753B, 0x89E6},  // 画
    {0x756A, 0x94D4},  // 番
    {0x78BA, 0x8A6D},  // 確
    {0x7C21, 0x8AC8},  // 簡
    {0x7D20, 0x9166},  // 素
    {0x7D30, 0x8DD7},  // 細
    {0x7D42, 0x8F49},  // 終
    {0x8981, 0x9776},  // 要
    {0x898B, 0x8CA9},  // 見
    {0x8A2D, 0x90DD},  // 設
    {0x8A73, 0x8FDA},  // 詳
    {0x8A8D, 0x9446},  // 認
    {0x901F, 0x91AC},  // 速
    {0x9078, 0x9149},  // 選
    {0x96C6, 0x8F57},  // 集
    {0x9762, 0x96CA},  // 面
    {0xFF1F, 0x8148},  // ？
};

constexpr bool table_is_sorted() {
    for (std::size_t i = 1; i < std::size(shift_jis_table); ++i) {
        if (shift_jis_table[i - 1].code_point >= shift_jis_table[i].code_point) {
            return false;
        }
    }
    return true;
}
static_assert(table_is_sorted(), "the Shift-JIS table must be sorted by code point");

// The Shift-JIS code of `code_point`, or 0 when the table has none.
constexpr std::uint16_t shift_jis_code(char32_t code_point) {
    std::size_t low = 0;
    std::size_t high = std::size(shift_jis_table);
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (shift_jis_table[middle].code_point < code_point) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    if (low < std::size(shift_jis_table) && shift_jis_table[low].code_point == code_point) {
        return shift_jis_table[low].code;
    }
    return 0;
}
static_assert(shift_jis_code(U'ア') == 0x8341 && shift_jis_code(U'A') == 0);

struct Utf8Char {
    char32_t code_point;
    std::size_t length;  // bytes taken from the text, at least 1
    bool valid;
};

// Decodes the character at `text` (a terminated string). A malformed
// sequence is reported invalid and takes its first byte only; the decoder
// never reads past the terminating zero, which is no continuation byte.
Utf8Char decode_utf8(const unsigned char* text) {
    const unsigned lead = text[0];
    if (lead < 0x80) {
        return {lead, 1, true};
    }
    std::size_t length = 0;
    char32_t code_point = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        code_point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        code_point = lead & 0x07u;
    } else {
        return {0, 1, false};
    }
    for (std::size_t i = 1; i < length; ++i) {
        const unsigned next = text[i];
        if ((next & 0xC0u) != 0x80u) {
            return {0, 1, false};
        }
        code_point = code_point << 6 | (next & 0x3Fu);
    }
    return {code_point, length, true};
}

// Converts from `text` as much as fits in `capacity` bytes of `out` without
// splitting a character, advances `text` past what was converted, and returns
// the number of bytes written. No terminating zero is written.
std::size_t convert_some(const char*& text, char* out, std::size_t capacity) {
    std::size_t written = 0;
    while (*text != '\0') {
        const Utf8Char c = decode_utf8(reinterpret_cast<const unsigned char*>(text));
        char bytes[2];
        std::size_t count = 1;
        if (c.valid && c.code_point < 0x80) {
            bytes[0] = static_cast<char>(c.code_point);
        } else if (const std::uint16_t code = c.valid ? shift_jis_code(c.code_point) : 0;
                   code != 0) {
            bytes[0] = static_cast<char>(code >> 8);
            bytes[1] = static_cast<char>(code & 0xFFu);
            count = 2;
        } else {
            bytes[0] = '?';
        }
        if (capacity - written < count) {
            break;
        }
        std::memcpy(out + written, bytes, count);
        written += count;
        text += c.length;
    }
    return written;
}

}  // namespace

std::size_t utf8_to_shift_jis(const char* utf8, char* out, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t written = convert_some(utf8, out, size - 1);
    out[written] = '\0';
    return written;
}

void console_text(const Console& console, const char* text) {
    std::FILE* const stream = console.stream;
    const std::size_t length = std::strlen(text);
    if (platform_write_console_text(stream, text, length)) {
        return;
    }
    if (console.encoding == ConsoleEncoding::utf8) {
        std::fwrite(text, 1, length, stream);
        return;
    }
    char chunk[256];
    while (*text != '\0') {
        const std::size_t written = convert_some(text, chunk, sizeof chunk);
        std::fwrite(chunk, 1, written, stream);
    }
}

void console_printf(const Console& console, const char* format, ...) {
    char text[1024];
    std::va_list arguments;
    va_start(arguments, format);
    const int length = std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (length < 0) {
        return;
    }
    console_text(console, text);
}

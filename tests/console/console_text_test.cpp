// Japanese text on the console, in Shift-JIS and in UTF-8, against bytes
// written out by hand from code page 932 and UTF-8.
#include "console/console_text.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/stream_helpers.hpp"
#include "console/messages.hpp"

namespace {

template <std::size_t N>
std::string bytes(const unsigned char (&b)[N]) {
    return std::string(reinterpret_cast<const char*>(b), N);
}

// "ファイルがオープンできませんでした.\n"
const unsigned char log_open_failed_sjis[] = {0x83, 0x74, 0x83, 0x40, 0x83, 0x43, 0x83, 0x8b, 0x82,
                                              0xaa, 0x83, 0x49, 0x81, 0x5b, 0x83, 0x76, 0x83, 0x93,
                                              0x82, 0xc5, 0x82, 0xab, 0x82, 0xdc, 0x82, 0xb9, 0x82,
                                              0xf1, 0x82, 0xc5, 0x82, 0xb5, 0x82, 0xbd, 0x2e, 0x0a};
const unsigned char log_open_failed_utf8[] = {
    0xe3, 0x83, 0x95, 0xe3, 0x82, 0xa1, 0xe3, 0x82, 0xa4, 0xe3, 0x83, 0xab, 0xe3, 0x81,
    0x8c, 0xe3, 0x82, 0xaa, 0xe3, 0x83, 0xbc, 0xe3, 0x83, 0x97, 0xe3, 0x83, 0xb3, 0xe3,
    0x81, 0xa7, 0xe3, 0x81, 0x8d, 0xe3, 0x81, 0xbe, 0xe3, 0x81, 0x9b, 0xe3, 0x82, 0x93,
    0xe3, 0x81, 0xa7, 0xe3, 0x81, 0x97, 0xe3, 0x81, 0x9f, 0x2e, 0x0a};

// "Winsock2.2以上のライブラリが必要です.\n"
const unsigned char winsock_sjis[] = {0x57, 0x69, 0x6e, 0x73, 0x6f, 0x63, 0x6b, 0x32, 0x2e, 0x32,
                                      0x88, 0xc8, 0x8f, 0xe3, 0x82, 0xcc, 0x83, 0x89, 0x83, 0x43,
                                      0x83, 0x75, 0x83, 0x89, 0x83, 0x8a, 0x82, 0xaa, 0x95, 0x4b,
                                      0x97, 0x76, 0x82, 0xc5, 0x82, 0xb7, 0x2e, 0x0a};

// "このIPアドレスから何個取りますか？\n"
const unsigned char count_prompt_sjis[] = {0x82, 0xb1, 0x82, 0xcc, 0x49, 0x50, 0x83, 0x41, 0x83,
                                           0x68, 0x83, 0x8c, 0x83, 0x58, 0x82, 0xa9, 0x82, 0xe7,
                                           0x89, 0xbd, 0x8c, 0xc2, 0x8e, 0xe6, 0x82, 0xe8, 0x82,
                                           0xdc, 0x82, 0xb7, 0x82, 0xa9, 0x81, 0x48, 0x0a};

// "00000080番ポートでフィルタリングします.\n"
const unsigned char port_confirm_sjis[] = {
    0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x38, 0x30, 0x94, 0xd4, 0x83, 0x7c, 0x81, 0x5b,
    0x83, 0x67, 0x82, 0xc5, 0x83, 0x74, 0x83, 0x42, 0x83, 0x8b, 0x83, 0x5e, 0x83, 0x8a,
    0x83, 0x93, 0x83, 0x4f, 0x82, 0xb5, 0x82, 0xdc, 0x82, 0xb7, 0x2e, 0x0a};
const unsigned char port_confirm_utf8[] = {
    0x30, 0x30, 0x30, 0x30, 0x30, 0x30, 0x38, 0x30, 0xe7, 0x95, 0xaa, 0xe3, 0x83, 0x9d,
    0xe3, 0x83, 0xbc, 0xe3, 0x83, 0x88, 0xe3, 0x81, 0xa7, 0xe3, 0x83, 0x95, 0xe3, 0x82,
    0xa3, 0xe3, 0x83, 0xab, 0xe3, 0x82, 0xbf, 0xe3, 0x83, 0xaa, 0xe3, 0x83, 0xb3, 0xe3,
    0x82, 0xb0, 0xe3, 0x81, 0x97, 0xe3, 0x81, 0xbe, 0xe3, 0x81, 0x99, 0x2e, 0x0a};

std::string written(ConsoleEncoding encoding, const char* text) {
    TempFile out = output_file();
    console_text(console_on(out.get(), encoding), text);
    return contents(out.get());
}

TEST(ConsoleText, MessagesInShiftJis) {
    EXPECT_EQ(written(ConsoleEncoding::shift_jis, msg_log_open_failed),
              bytes(log_open_failed_sjis));
    EXPECT_EQ(written(ConsoleEncoding::shift_jis, msg_winsock_required), bytes(winsock_sjis));
    EXPECT_EQ(written(ConsoleEncoding::shift_jis, msg_enter_address_count),
              bytes(count_prompt_sjis));
}

TEST(ConsoleText, MessagesInUtf8) {
    EXPECT_EQ(written(ConsoleEncoding::utf8, msg_log_open_failed), bytes(log_open_failed_utf8));
}

TEST(ConsoleText, PrintfInBothEncodings) {
    for (const auto& [encoding, expected] :
         {std::pair{ConsoleEncoding::shift_jis, bytes(port_confirm_sjis)},
          std::pair{ConsoleEncoding::utf8, bytes(port_confirm_utf8)}}) {
        TempFile out = output_file();
        console_printf(console_on(out.get(), encoding), fmt_filter_port_confirm, 80);
        EXPECT_EQ(contents(out.get()), expected);
    }
}

TEST(ConsoleText, LongTextIsWrittenWhole) {
    // Longer than any internal chunk: 300 times "ア" (83 41) and a line end.
    std::string text;
    std::string expected;
    for (int i = 0; i < 300; ++i) {
        text += "ア";
        expected += "\x83\x41";
    }
    text += "\n";
    expected += "\n";
    EXPECT_EQ(written(ConsoleEncoding::shift_jis, text.c_str()), expected);
}

TEST(ShiftJis, UnknownAndMalformedBecomeQuestionMarks) {
    struct {
        const char* utf8;
        const char* sjis;
    } const cases[] = {
        {"plain ASCII ~\t\n", "plain ASCII ~\t\n"},
        {"caf\xc3\xa9", "caf?"},         // é has no code here
        {"\xe3\x82", "??"},              // cut short
        {"\x82\xa2", "??"},              // stray continuation bytes
        {"\xc0\xaf", "??"},              // over-long form
        {"\xf0\x9f\x98\x80!", "?!"},     // outside the table
        {"\xe3\x82\xa2x", "\x83\x41x"},  // ア
    };
    for (const auto& c : cases) {
        char out[64];
        const std::size_t length = utf8_to_shift_jis(c.utf8, out, sizeof out);
        EXPECT_EQ(std::string(out, length), c.sjis) << c.utf8;
        EXPECT_EQ(out[length], '\0');
    }
}

TEST(ShiftJis, NeverSplitsACharacterOrOverruns) {
    char out[8];
    std::memset(out, 'Z', sizeof out);
    // Room for 3 bytes and the terminator: "ア" fits, "イ" would not.
    EXPECT_EQ(utf8_to_shift_jis("アイ", out, 4), 2u);
    EXPECT_EQ(std::string(out), "\x83\x41");
    EXPECT_EQ(out[4], 'Z');
    EXPECT_EQ(utf8_to_shift_jis("ア", out, 1), 0u);
    EXPECT_EQ(out[0], '\0');
    out[0] = 'Z';
    EXPECT_EQ(utf8_to_shift_jis("ア", out, 0), 0u);
    EXPECT_EQ(out[0], 'Z');
}

TEST(ShiftJis, EveryMessageIsCovered) {
    const char* const messages[] = {
        msg_winsock_required,      msg_log_open_failed,        msg_host_name_failed,
        msg_host_lookup_failed,    msg_bad_bind_address,       msg_missing_log_name,
        msg_bad_filter_address,    msg_bad_filter_port,        msg_bad_filter_width,
        msg_ask_log_file,          msg_enter_log_name,         msg_ask_address_filter,
        msg_enter_filter_address,  fmt_filter_address_confirm, msg_enter_address_count,
        fmt_address_count_confirm, msg_ask_port_filter,        msg_enter_filter_port,
        fmt_filter_port_confirm,   msg_ask_show_detail,        msg_ask_show_dump,
        fmt_choose_address,        msg_choose_address_failed,  msg_input_ended,
    };
    for (const char* message : messages) {
        char out[512];
        const std::size_t length = utf8_to_shift_jis(message, out, sizeof out);
        EXPECT_LT(length, sizeof out - 1) << message;
        // No message holds an ASCII "?", and no Shift-JIS trail byte is 0x3F.
        EXPECT_EQ(std::string(out, length).find('?'), std::string::npos) << message;
    }
}

}  // namespace

// The command line, decimal values, the options report and the default local
// address.
#include "config/options.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "stream_helpers.hpp"

namespace {

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return network_order_address(a << 24 | b << 16 | c << 8 | d);
}

// The usage text the Windows test checks pktwatch.exe with too, and the text
// of --help.
const std::string usage_text = test_support::read_file(PKTWATCH_TEST_DATA "/usage.txt");
const std::string help_text = test_support::read_file(PKTWATCH_TEST_DATA "/help.txt");

// The address run_monitor puts in the record before the command line is read.
constexpr std::uint32_t default_address = ip(192, 0, 2, 7);
const std::string default_dotted = "192.0.2.7";

const std::string bad_bind = "ERR: bind 正しいIPアドレスを指定してください.\n";
const std::string bad_log = "ERR: -f ファイル名を指定してください.\n";
const std::string bad_i = "ERR: -i IPアドレスを正しく指定してください.";
const std::string bad_p = "ERR: -p ポート番号を正しく指定してください.";
const std::string bad_w = "ERR: -w IPアドレスの幅を正しく指定してください.";
const std::string bad_count = "ERR: --count takes a number from 1 to 9223372036854775808.\n";

struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;  // after the program name
    int result;
    std::string text;  // everything written on the console's stream
    // The record after success (or after -h).
    std::uint32_t listen = default_address;
    std::uint8_t detail = 0;
    std::uint8_t dump = 0;
    std::uint32_t filter_address = 0;
    std::uint32_t filter_width = 0;
    std::uint16_t filter_port = 0;
    std::string log = "";
    std::string read = "";
    std::string save = "";
    std::uint64_t count = 0;
    std::string user = "";
    std::string errors = "";  // everything written on the console's error stream
};

std::string report(bool detail, bool dump, const std::string& log, const std::string& listen,
                   const std::string& first, const std::string& last, unsigned port) {
    return expected_report(detail, dump, log, listen, first, last, port);
}

std::string plain_report(const std::string& listen = default_dotted) {
    return report(false, false, "", listen, "0.0.0.0", "0.0.0.0", 0);
}

const std::string long_name(300, 'L');

std::vector<CommandLineCase> command_line_cases() {
    return {
        {.name = "no_arguments", .args = {}, .result = 1, .text = plain_report()},
        {.name = "address_stops_processing",
         .args = {"10.0.0.1", "-d"},
         .result = 1,
         .text = plain_report("10.0.0.1"),
         .listen = ip(10, 0, 0, 1)},
        {.name = "address_hides_a_bad_value_after_it",
         .args = {"10.0.0.1", "-p", "0"},
         .result = 1,
         .text = plain_report("10.0.0.1"),
         .listen = ip(10, 0, 0, 1)},
        {.name = "option_then_address",
         .args = {"-d", "10.0.0.1"},
         .result = 1,
         .text = report(true, false, "", "10.0.0.1", "0.0.0.0", "0.0.0.0", 0),
         .listen = ip(10, 0, 0, 1),
         .detail = 1},
        {.name = "option_letter_alone_selects",
         .args = {"-f=log.txt", "10.0.0.1"},
         .result = 1,
         .text = report(false, false, "10.0.0.1", default_dotted, "0.0.0.0", "0.0.0.0", 0),
         .log = "10.0.0.1"},
        {.name = "rest_of_option_never_read",
         .args = {"-dump", "-bogus"},
         .result = 1,
         .text = report(true, true, "", default_dotted, "0.0.0.0", "0.0.0.0", 0),
         .detail = 1,
         .dump = 1},
        {.name = "slash_options",
         .args = {"/d", "/b", "/f", "x.log", "/", "-"},
         .result = 1,
         .text = report(true, true, "x.log", default_dotted, "0.0.0.0", "0.0.0.0", 0),
         .detail = 1,
         .dump = 1,
         .log = "x.log"},
        {.name = "unknown_letters_ignored",
         .args = {"-x", "-D", "-B", "-9", "-b"},
         .result = 1,
         .text = report(false, true, "", default_dotted, "0.0.0.0", "0.0.0.0", 0),
         .dump = 1},
        {.name = "bind_address_zero_fails", .args = {"0.0.0.0"}, .result = -1, .text = bad_bind},
        {.name = "unreadable_bind_address_fails",
         .args = {"-d", "not-an-address"},
         .result = -1,
         .text = bad_bind},
        {.name = "all_ones_bind_address",
         .args = {"255.255.255.255"},
         .result = 1,
         .text = plain_report("255.255.255.255"),
         .listen = 0xFFFFFFFFu},
        {.name = "port_0_fails", .args = {"-p", "0"}, .result = -1, .text = bad_p},
        {.name = "port_65536_fails", .args = {"-p", "65536"}, .result = -1, .text = bad_p},
        {.name = "port_65537_keeps_low_bits",
         .args = {"-p", "65537"},
         .result = 1,
         .text = report(false, false, "", default_dotted, "0.0.0.0", "0.0.0.0", 1),
         .filter_port = 1},
        {.name = "port_70000_keeps_low_bits",
         .args = {"-p", "70000"},
         .result = 1,
         .text = report(false, false, "", default_dotted, "0.0.0.0", "0.0.0.0", 4464),
         .filter_port = 4464},
        {.name = "last_option_wins",
         .args = {"-p", "80", "-p", "443"},
         .result = 1,
         .text = report(false, false, "", default_dotted, "0.0.0.0", "0.0.0.0", 443),
         .filter_port = 443},
        {.name = "width_1_is_one_address",
         .args = {"-i", "192.168.1.10", "-w", "1"},
         .result = 1,
         .text = report(false, false, "", default_dotted, "192.168.1.10", "192.168.1.10", 0),
         .filter_address = ip(192, 168, 1, 10),
         .filter_width = 0},
        {.name = "width_5",
         .args = {"-w", "5", "-i", "192.168.1.10"},
         .result = 1,
         .text = report(false, false, "", default_dotted, "192.168.1.10", "192.168.1.14", 0),
         .filter_address = ip(192, 168, 1, 10),
         .filter_width = 4},
        {.name = "width_0_fails", .args = {"-w", "0"}, .result = -1, .text = bad_w},
        {.name = "width_minus_1_wraps",
         .args = {"-i", "10.0.0.5", "-w", "-1"},
         .result = 1,
         .text = report(false, false, "", default_dotted, "10.0.0.5", "10.0.0.3", 0),
         .filter_address = ip(10, 0, 0, 5),
         .filter_width = 0xFFFFFFFEu},
        {.name = "filter_address_zero_fails",
         .args = {"-i", "0.0.0.0"},
         .result = -1,
         .text = bad_i},
        {.name = "unreadable_filter_address_fails",
         .args = {"-i", "nonsense"},
         .result = -1,
         .text = bad_i},
        {.name = "all_ones_filter_address",
         .args = {"-i", "255.255.255.255"},
         .result = 1,
         .text = report(false, false, "", default_dotted, "255.255.255.255", "255.255.255.255", 0),
         .filter_address = 0xFFFFFFFFu},
        {.name = "help_before_bad_value",
         .args = {"-d", "-h", "-p", "0"},
         .result = 0,
         .text = usage_text,
         .detail = 1},
        {.name = "help_after_bad_value", .args = {"-p", "0", "-h"}, .result = -1, .text = bad_p},
        {.name = "value_option_takes_next_argument",
         .args = {"-f", "-d"},
         .result = 1,
         .text = report(false, false, "-d", default_dotted, "0.0.0.0", "0.0.0.0", 0),
         .log = "-d"},
        {.name = "width_takes_option_as_value", .args = {"-w", "-d"}, .result = -1, .text = bad_w},
        {.name = "empty_log_name_means_no_log",
         .args = {"-f", ""},
         .result = 1,
         .text = plain_report()},
        {.name = "missing_log_name", .args = {"-d", "-f"}, .result = -1, .text = bad_log},
        {.name = "missing_filter_address", .args = {"-i"}, .result = -1, .text = bad_i},
        {.name = "missing_port", .args = {"-p"}, .result = -1, .text = bad_p},
        {.name = "missing_width", .args = {"-w"}, .result = -1, .text = bad_w},
        {.name = "log_name_259_kept",
         .args = {"-f", long_name.substr(0, 259)},
         .result = 1,
         .text = report(false, false, long_name.substr(0, 259), default_dotted, "0.0.0.0",
                        "0.0.0.0", 0),
         .log = long_name.substr(0, 259)},
        {.name = "log_name_260_refused",
         .args = {"-f", long_name.substr(0, 260)},
         .result = -1,
         .text = "ERR: -f: the name is longer than 259 bytes.\n"},
        {.name = "log_name_300_refused",
         .args = {"-f", long_name},
         .result = -1,
         .text = "ERR: -f: the name is longer than 259 bytes.\n"},
        // Long options.
        {.name = "long_options_fill_their_fields",
         .args = {"--read", "in.pcap", "-d", "--save", "out.pcap", "--count", "12", "--user",
                  "nobody", "--", "10.0.0.1"},
         .result = 1,
         .text = report(true, false, "", "10.0.0.1", "0.0.0.0", "0.0.0.0", 0),
         .listen = ip(10, 0, 0, 1),
         .detail = 1,
         .read = "in.pcap",
         .save = "out.pcap",
         .count = 12,
         .user = "nobody"},
        {.name = "read_needs_no_address",
         .args = {"--read", long_name.substr(0, 259), "-b"},
         .result = 1,
         .text = report(false, true, "", default_dotted, "0.0.0.0", "0.0.0.0", 0),
         .dump = 1,
         .read = long_name.substr(0, 259)},
        {.name = "largest_count",
         .args = {"--count", "9223372036854775808"},
         .result = 1,
         .text = plain_report(),
         .count = std::uint64_t{1} << 63},
        {.name = "count_0", .args = {"--count", "0"}, .result = -1, .text = bad_count},
        {.name = "count_over_2_to_63",
         .args = {"--count", "9223372036854775809"},
         .result = -1,
         .text = bad_count},
        {.name = "count_over_2_to_64",
         .args = {"--count", "18446744073709551617"},
         .result = -1,
         .text = bad_count},
        {.name = "count_with_sign", .args = {"--count", "+5"}, .result = -1, .text = bad_count},
        {.name = "count_with_tail", .args = {"--count", "5x"}, .result = -1, .text = bad_count},
        {.name = "count_empty", .args = {"--count", ""}, .result = -1, .text = bad_count},
        {.name = "missing_count",
         .args = {"--count"},
         .result = -1,
         .text = "ERR: --count needs a value.\n"},
        {.name = "missing_read",
         .args = {"--read"},
         .result = -1,
         .text = "ERR: --read needs a value.\n"},
        {.name = "empty_read",
         .args = {"--read", ""},
         .result = -1,
         .text = "ERR: --read needs a value.\n"},
        {.name = "empty_save",
         .args = {"--save", "", "-d"},
         .result = -1,
         .text = "ERR: --save needs a value.\n"},
        {.name = "empty_user",
         .args = {"--user", ""},
         .result = -1,
         .text = "ERR: --user needs a value.\n"},
        {.name = "read_name_260_refused",
         .args = {"--read", long_name.substr(0, 260)},
         .result = -1,
         .text = "ERR: --read: the name is longer than 259 bytes.\n"},
        {.name = "save_name_300_refused",
         .args = {"--save", long_name},
         .result = -1,
         .text = "ERR: --save: the name is longer than 259 bytes.\n"},
        {.name = "user_name_256_refused",
         .args = {"--user", std::string(256, 'u')},
         .result = -1,
         .text = "ERR: --user: the name is longer than 255 bytes.\n"},
        {.name = "unknown_long_option_refused",
         .args = {"-d", "--bogus", "10.0.0.1"},
         .result = -1,
         .text = "",
         .errors = "pktwatch: unknown option --bogus\n"},
        {.name = "misspelt_long_option_refused",
         .args = {"--cuont", "5"},
         .result = -1,
         .text = "",
         .errors = "pktwatch: unknown option --cuont\n"},
        {.name = "long_option_with_its_value_refused",
         .args = {"--count=5", "10.0.0.1"},
         .result = -1,
         .text = "",
         .errors = "pktwatch: unknown option --count=5\n"},
        {.name = "long_help",
         .args = {"-d", "--help", "-p", "0"},
         .result = 0,
         .text = help_text,
         .detail = 1},
        {.name = "version",
         .args = {"--version", "-p", "0"},
         .result = 0,
         .text = "pktwatch " PKTWATCH_VERSION "\n"},
    };
}

// Text that is not a strict dotted quad, refused as the -i address and as the
// local address, with their own messages.
TEST(CommandLine, OnlyDottedQuadsAreAddresses) {
    const char* const refused[] = {
        "localhost", "999.1.1.1", "",         "1.2.3",      "1.2.3.4x",   "1.2.3.4.5", " 1.2.3.4",
        "1.2.3.4 ",  "1..2.3",    "1.2.3.",   ".1.2.3",     "1.2.3.256",  "01.2.3.4",  "1.2.3.0x1",
        "0.0.0.0",   "1.2.3.-4",  "1.2.3.+4", "0001.2.3.4", "4294967295",
    };
    for (const char* text : refused) {
        for (const bool filter : {true, false}) {
            std::vector<const char*> argv{"pktwatch"};
            if (filter) {
                argv.push_back("-i");
            }
            argv.push_back(text);
            MonitorOptions options{};
            TempFile out = output_file();
            EXPECT_EQ(parse_command_line(options, static_cast<int>(argv.size()), argv.data(),
                                         console_on(out.get())),
                      -1)
                << '"' << text << '"';
            EXPECT_EQ(contents(out.get()), filter ? bad_i : bad_bind) << '"' << text << '"';
        }
    }
    const struct {
        const char* text;
        std::uint32_t address;
    } accepted[] = {
        {"0.0.0.1", ip(0, 0, 0, 1)},
        {"10.0.0.1", ip(10, 0, 0, 1)},
        {"255.255.255.254", ip(255, 255, 255, 254)},
        {"1.20.255.0", ip(1, 20, 255, 0)},
    };
    for (const auto& c : accepted) {
        std::uint32_t address = 0;
        EXPECT_TRUE(parse_dotted_quad(c.text, &address)) << c.text;
        EXPECT_EQ(address, c.address) << c.text;
    }
}

class CommandLineTest : public testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineTest, ResultRecordAndText) {
    const CommandLineCase& c = GetParam();
    std::vector<const char*> argv{"pktwatch"};
    for (const std::string& a : c.args) {
        argv.push_back(a.c_str());
    }
    MonitorOptions options{};
    options.listen_address = default_address;
    TempFile out = output_file();
    TempFile errors = output_file();

    const int result =
        parse_command_line(options, static_cast<int>(argv.size()), argv.data(),
                           console_on(out.get(), ConsoleEncoding::utf8, errors.get()));

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(contents(out.get()), c.text);
    EXPECT_EQ(contents(errors.get()), c.errors);
    if (result != -1) {
        EXPECT_EQ(options.listen_address, c.listen);
        EXPECT_EQ(options.show_detail, c.detail);
        EXPECT_EQ(options.show_dump, c.dump);
        EXPECT_EQ(options.filter_address, c.filter_address);
        EXPECT_EQ(options.filter_width, c.filter_width);
        EXPECT_EQ(options.filter_port, c.filter_port);
        EXPECT_EQ(std::string(options.log_path), c.log);
        EXPECT_EQ(std::string(options.read_path), c.read);
        EXPECT_EQ(std::string(options.save_path), c.save);
        EXPECT_EQ(options.count, c.count);
        EXPECT_EQ(std::string(options.user_name), c.user);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLineTest, testing::ValuesIn(command_line_cases()),
                         [](const testing::TestParamInfo<CommandLineCase>& param) {
                             return std::string(param.param.name);
                         });

TEST(CommandLine, ErrorMessagesInShiftJis) {
    const char* argv[] = {"pktwatch", "-p", "0"};
    MonitorOptions options{};
    TempFile out = output_file();
    EXPECT_EQ(
        parse_command_line(options, 3, argv, console_on(out.get(), ConsoleEncoding::shift_jis)),
        -1);
    // "ERR: -p ポート番号を正しく指定してください." in code page 932, no line end.
    const unsigned char expected[] = {
        'E',  'R',  'R',  ':',  ' ',  '-',  'p',  ' ',  0x83, 0x7C, 0x81, 0x5B, 0x83, 0x67, 0x94,
        0xD4, 0x8D, 0x86, 0x82, 0xF0, 0x90, 0xB3, 0x82, 0xB5, 0x82, 0xAD, 0x8E, 0x77, 0x92, 0xE8,
        0x82, 0xB5, 0x82, 0xC4, 0x82, 0xAD, 0x82, 0xBE, 0x82, 0xB3, 0x82, 0xA2, '.'};
    EXPECT_EQ(contents(out.get()),
              std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST(Usage, Text) {
    TempFile out = output_file();
    print_usage(out.get());
    EXPECT_EQ(contents(out.get()), usage_text);
}

struct DecimalCase {
    const char* text;
    std::uint32_t value;
};

TEST(DecimalValue, ReadsLikeAtoiModulo2To32) {
    const DecimalCase cases[] = {
        {"", 0},
        {"42", 42},
        {" \t\n\v\f\r17", 17},
        {"+5", 5},
        {"-1", 0xFFFFFFFFu},
        {"-0", 0},
        {"  -12x", 0u - 12u},
        {"12abc", 12},
        {"abc", 0},
        {"0x10", 0},
        {"- 5", 0},
        {"--5", 0},
        {"+-5", 0},
        {"2147483648", 2147483648u},
        {"4294967295", 4294967295u},
        {"4294967296", 0},
        {"4294967297", 1},
        {"-4294967297", 0xFFFFFFFFu},
        {"99999999999999999999", 1661992959u},  // 10^20 - 1 modulo 2^32
        {"000000000000000000000000000000065", 65},
    };
    for (const DecimalCase& c : cases) {
        EXPECT_EQ(decimal_value(c.text), c.value) << '"' << c.text << '"';
    }
}

TEST(OptionsReport, Default) {
    MonitorOptions options{};
    TempFile out = output_file();
    print_options(out.get(), options);
    EXPECT_EQ(contents(out.get()),
              "OPTIONS\n"
              "Show header detail   no\n"
              "Show dump            no\n"
              "logfile              <no>\n"
              "Listen address       0.0.0.0\n"
              "\n"
              "Filtering address    0.0.0.0 - 0.0.0.0\n"
              "Filtering port       0\n");
}

TEST(OptionsReport, EveryFieldSet) {
    MonitorOptions options{};
    options.listen_address = ip(10, 200, 0, 1);
    options.show_detail = 1;
    options.show_dump = 1;
    options.filter_address = ip(192, 168, 1, 10);
    options.filter_width = 4;
    options.filter_port = 65535;
    std::strcpy(options.log_path, "C:\\logs\\watch.log");
    TempFile out = output_file();
    print_options(out.get(), options);
    EXPECT_EQ(contents(out.get()),
              "OPTIONS\n"
              "Show header detail   Yes\n"
              "Show dump            Yes\n"
              "logfile              C:\\logs\\watch.log\n"
              "Listen address       10.200.0.1\n"
              "\n"
              "Filtering address    192.168.1.10 - 192.168.1.14\n"
              "Filtering port       65535\n");
}

TEST(OptionsReport, RangeEndWrapsAndCarries) {
    struct {
        std::uint32_t address;
        std::uint32_t width;
        const char* line;
    } const cases[] = {
        {ip(255, 255, 255, 250), 10, "Filtering address    255.255.255.250 - 0.0.0.4\n"},
        {ip(10, 0, 0, 255), 1, "Filtering address    10.0.0.255 - 10.0.1.0\n"},
        {ip(1, 2, 3, 4), 0xFFFFFFFFu, "Filtering address    1.2.3.4 - 1.2.3.3\n"},
    };
    for (const auto& c : cases) {
        MonitorOptions options{};
        options.filter_address = c.address;
        options.filter_width = c.width;
        TempFile out = output_file();
        print_options(out.get(), options);
        EXPECT_NE(contents(out.get()).find(c.line), std::string::npos) << c.line;
    }
}

// --- The default local address ------------------------------------------------

struct DefaultAddressCase {
    LocalAddressStatus status;
    int count;
    std::uint32_t result;
    std::string text;
};

TEST(DefaultLocalAddress, FirstAddressOrZeroWithMessage) {
    const DefaultAddressCase cases[] = {
        {LocalAddressStatus::ok, 2, ip(192, 168, 0, 5), ""},
        {LocalAddressStatus::ok, 1, ip(192, 168, 0, 5), ""},
        {LocalAddressStatus::ok, 0, 0, ""},
        {LocalAddressStatus::host_name_failed, 2, 0,
         "gethostname() が失敗しました. IPアドレスがありません.\n"},
        {LocalAddressStatus::lookup_failed, 0, 0,
         "::gethostbyname() が失敗しました. 設定を確認してください.\n"},
    };
    for (const DefaultAddressCase& c : cases) {
        const LocalAddresses found{c.status, {{ip(192, 168, 0, 5), ip(127, 0, 0, 1)}, c.count, 0}};
        TempFile out = output_file();
        EXPECT_EQ(default_local_address(found, console_on(out.get())), c.result);
        EXPECT_EQ(contents(out.get()), c.text);
    }
}

}  // namespace

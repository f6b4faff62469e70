// The set-up dialogue driven by scripted answers, compared as whole
// transcripts (UTF-8, and once Shift-JIS).
#include "config/dialogue.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "stream_helpers.hpp"

namespace {

constexpr std::uint32_t ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return network_order_address(a << 24 | b << 16 | c << 8 | d);
}

// The dialogue's texts, written out here on their own.
const std::string q_log =
    "ログをファイルに書き出しますか [Y]/N \n"
    "※ログファイルを取得すると速度向上の為画面描画が簡素化されます.";
const std::string log_name_prompt = "ログファイル名を入力してください.\n";
const std::string q_address = "IPアドレスでフィルタリングしますか [Y]/N ";
const std::string address_prompt = "収集したいIPアドレスを入力してください.\n";
const std::string count_prompt = "このIPアドレスから何個取りますか？\n";
const std::string q_port = "ポート番号でフィルタリングしますか Y/[N] ";
const std::string port_prompt = "収集したいポート番号を入力してください.\n";
const std::string q_detail = "ヘッダの詳細は必要ですか [Y]/N ";
const std::string q_dump = "バイナリダンプ出力は必要ですか [Y]/N ";
const std::string choose_failed = "IPアドレスを選択してください.\n";
const std::string host_name_failed = "gethostname() が失敗しました. IPアドレスがありません.\n";
const std::string lookup_failed = "::gethostbyname() が失敗しました. 設定を確認してください.\n";
const std::string input_ended = "入力が終了しました. 設定を中止します.\n";
const std::string choose3 = " 3のネットワークが見つかりました.選択して下さい.:";
const std::string list1 = "No.1 : 192.168.0.5\n";
const std::string list3 = "No.1 : 192.168.0.5\nNo.2 : 10.0.0.2\nNo.3 : 127.0.0.1\n";

std::string address_confirm(const char* hex) {
    return std::string(hex) + " でフィルタリングします.\n";
}
std::string count_confirm(const char* n) {
    return std::string(n) + " 個取ります。.\n";
}
std::string port_confirm(const char* digits) {
    return std::string(digits) + "番ポートでフィルタリングします.\n";
}

// The fake local host.
LocalAddressStatus fake_status = LocalAddressStatus::ok;
LocalAddressList fake_list{};

LocalAddresses fake_local() {
    return LocalAddresses{fake_status, fake_list};
}

void one_address() {
    fake_status = LocalAddressStatus::ok;
    fake_list = {{ip(192, 168, 0, 5)}, 1, 0};
}

void three_addresses() {
    fake_status = LocalAddressStatus::ok;
    fake_list = {{ip(192, 168, 0, 5), ip(10, 0, 0, 2), ip(127, 0, 0, 1)}, 3, 0};
}

class DialogueTest : public testing::Test {
protected:
    void SetUp() override { one_address(); }

    // Runs the dialogue over `input`; returns its result, keeps the transcript.
    int run(const std::string& input) {
        options = MonitorOptions{};
        TempFile in = input_file(input);
        TempFile out = output_file();
        const int result =
            run_setup_dialogue(options, fake_local(), in.get(), console_on(out.get(), encoding));
        transcript = contents(out.get());
        return result;
    }

    ConsoleEncoding encoding = ConsoleEncoding::utf8;
    MonitorOptions options{};
    std::string transcript;
};

TEST_F(DialogueTest, EnterAtEveryQuestion) {
    ASSERT_EQ(run("\nwatch.log\n\n192.168.0.1\n3\n\n\n\n"), 1);
    EXPECT_EQ(transcript, q_log + log_name_prompt + q_address + address_prompt +
                              address_confirm("0100A8C0") + count_prompt + count_confirm("3") +
                              q_port + q_detail + q_dump + list1 +
                              expected_report(true, true, "watch.log", "192.168.0.5", "192.168.0.1",
                                              "192.168.0.3", 0));
    EXPECT_STREQ(options.log_path, "watch.log");
    EXPECT_EQ(options.filter_address, ip(192, 168, 0, 1));
    EXPECT_EQ(options.filter_width, 2u);
    EXPECT_EQ(options.filter_port, 0);
    EXPECT_EQ(options.show_detail, 1);
    EXPECT_EQ(options.show_dump, 1);
    EXPECT_EQ(options.listen_address, ip(192, 168, 0, 5));
}

TEST_F(DialogueTest, EnterAtEveryQuestionInShiftJis) {
    encoding = ConsoleEncoding::shift_jis;
    ASSERT_EQ(run("\nwatch.log\n\n192.168.0.1\n3\n\n\n\n"), 1);
    const std::string utf8 =
        q_log + log_name_prompt + q_address + address_prompt + address_confirm("0100A8C0") +
        count_prompt + count_confirm("3") + q_port + q_detail + q_dump + list1 +
        expected_report(true, true, "watch.log", "192.168.0.5", "192.168.0.1", "192.168.0.3", 0);
    std::vector<char> converted(utf8.size() + 1);
    const std::size_t length = utf8_to_shift_jis(utf8.c_str(), converted.data(), converted.size());
    EXPECT_EQ(transcript, std::string(converted.data(), length));
    // The first question begins "ログ" (83 8D 83 4F) in code page 932.
    EXPECT_EQ(transcript.substr(0, 4), "\x83\x8D\x83\x4F");
}

TEST_F(DialogueTest, NoToEveryQuestion) {
    ASSERT_EQ(run("n\nN\n\nno\nnope\n"), 1);
    EXPECT_EQ(transcript,
              q_log + q_address + q_port + q_detail + q_dump + list1 +
                  expected_report(false, false, "", "192.168.0.5", "0.0.0.0", "0.0.0.0", 0));
}

TEST_F(DialogueTest, EmptyLogNameAskedAgain) {
    ASSERT_EQ(run("\n\n\na.log\nn\n\nn\nN\n"), 1);
    EXPECT_EQ(transcript,
              q_log + log_name_prompt + log_name_prompt + log_name_prompt + q_address + q_port +
                  q_detail + q_dump + list1 +
                  expected_report(false, false, "a.log", "192.168.0.5", "0.0.0.0", "0.0.0.0", 0));
}

TEST_F(DialogueTest, ZeroAddressAskedAgainWithoutPrompt) {
    ASSERT_EQ(run("n\ny\n0.0.0.0\n10.0.0.1\n0\n3\n\n\n\n"), 1);
    EXPECT_EQ(transcript,
              q_log + q_address + address_prompt + address_confirm("00000000") +
                  address_confirm("0100000A") + count_prompt + count_confirm("3") + q_port +
                  q_detail + q_dump + list1 +
                  expected_report(true, true, "", "192.168.0.5", "10.0.0.1", "10.0.0.3", 0));
    EXPECT_EQ(options.filter_width, 2u);
}

TEST_F(DialogueTest, UnreadableAddressAcceptedAndNegativeCountWraps) {
    ASSERT_EQ(run("n\n\nwhat\n-1\nn\nn\nn\n"), 1);
    EXPECT_EQ(transcript, q_log + q_address + address_prompt + address_confirm("FFFFFFFF") +
                              count_prompt + count_confirm("-1") + q_port + q_detail + q_dump +
                              list1 +
                              expected_report(false, false, "", "192.168.0.5", "255.255.255.255",
                                              "255.255.255.253", 0));
    EXPECT_EQ(options.filter_address, 0xFFFFFFFFu);
    EXPECT_EQ(options.filter_width, 0xFFFFFFFEu);
}

TEST_F(DialogueTest, PortZeroAskedAgainWithPrompt) {
    ASSERT_EQ(run("n\nn\ny\n0\n65616\nn\nn\n"), 1);
    EXPECT_EQ(transcript,
              q_log + q_address + q_port + port_prompt + port_confirm("00000000") + port_prompt +
                  port_confirm("00000080") + q_detail + q_dump + list1 +
                  expected_report(false, false, "", "192.168.0.5", "0.0.0.0", "0.0.0.0", 80));
    EXPECT_EQ(options.filter_port, 80);
}

TEST_F(DialogueTest, ThreeAddressesRefuseThenChooseSecond) {
    three_addresses();
    ASSERT_EQ(run("n\nn\nn\nn\nn\n0\n4\nabc\n2\n"), 1);
    EXPECT_EQ(transcript,
              q_log + q_address + q_port + q_detail + q_dump + list3 + choose3 + choose3 + choose3 +
                  choose3 + expected_report(false, false, "", "10.0.0.2", "0.0.0.0", "0.0.0.0", 0));
    EXPECT_EQ(options.listen_address, ip(10, 0, 0, 2));
}

TEST_F(DialogueTest, AddressesLeftOutOfTheListAreMentioned) {
    three_addresses();
    fake_list.left_out = 300;
    ASSERT_EQ(run("n\nn\nn\nn\nn\n2\n"), 1);
    EXPECT_EQ(transcript,
              q_log + q_address + q_port + q_detail + q_dump + list3 +
                  "300 more local addresses are not listed.\n" + choose3 +
                  expected_report(false, false, "", "10.0.0.2", "0.0.0.0", "0.0.0.0", 0));
}

TEST_F(DialogueTest, LastLineWithoutLineEndIsAnAnswer) {
    three_addresses();
    ASSERT_EQ(run("n\nn\nn\nn\nn\n-3\n3"), 1);
    EXPECT_EQ(options.listen_address, ip(127, 0, 0, 1));
}

TEST_F(DialogueTest, NoLocalAddress) {
    fake_list.count = 0;
    EXPECT_EQ(run("n\nn\nn\nn\nn\n"), -1);
    EXPECT_EQ(transcript, q_log + q_address + q_port + q_detail + q_dump + choose_failed);
}

TEST_F(DialogueTest, HostLookupFailuresPrintedAtStartAndAtTheChoice) {
    struct {
        LocalAddressStatus status;
        const std::string& message;
    } const cases[] = {{LocalAddressStatus::host_name_failed, host_name_failed},
                       {LocalAddressStatus::lookup_failed, lookup_failed}};
    for (const auto& c : cases) {
        fake_status = c.status;
        options = MonitorOptions{};
        TempFile in = input_file("n\nn\nn\nn\nn\n");
        TempFile out = output_file();
        // As at start-up: the default address first, then the dialogue.
        options.listen_address = default_local_address(fake_local(), console_on(out.get()));
        EXPECT_EQ(run_setup_dialogue(options, fake_local(), in.get(), console_on(out.get())), -1);
        EXPECT_EQ(contents(out.get()), c.message + q_log + q_address + q_port + q_detail + q_dump +
                                           c.message + choose_failed);
    }
}

TEST_F(DialogueTest, ZeroByteEndsTheAnswerNotTheLine) {
    using namespace std::string_literals;
    ASSERT_EQ(run("\n\0skipped\na\0b.log\nn\ny\n8\0"s + "0\nn\nn\n"s), 1);
    EXPECT_EQ(transcript,
              q_log + log_name_prompt + log_name_prompt + q_address + q_port + port_prompt +
                  port_confirm("00000008") + q_detail + q_dump + list1 +
                  expected_report(false, false, "a", "192.168.0.5", "0.0.0.0", "0.0.0.0", 8));
}

// --- Overlong answers -----------------------------------------------------------

TEST(YesNo, Answers) {
    struct {
        const char* line;
        int default_answer;
        int result;
    } const cases[] = {
        {"\n", 1, 1},   {"n\n", 1, 0},   {"N\n", 1, 0}, {"no\n", 1, 0}, {"y\n", 1, 1},
        {" n\n", 1, 1}, {"x\n", 1, 1},   {"", 1, 1},    {"\n", 0, 0},   {"y\n", 0, 1},
        {"Y\n", 0, 1},  {"yes\n", 0, 1}, {"n\n", 0, 0}, {" y\n", 0, 0}, {"", 0, 0},
        {"N", 1, 0},    {"Y", 0, 1},
    };
    for (const auto& c : cases) {
        TempFile in = input_file(c.line);
        TempFile out = output_file();
        EXPECT_EQ(ask_yes_no("Q? ", c.default_answer, in.get(), console_on(out.get())), c.result)
            << '"' << c.line << "\" default " << c.default_answer;
        EXPECT_EQ(contents(out.get()), "Q? ");
    }
}

// Line lengths around each buffer size (79/80/81 and so on) and far beyond.
const std::size_t yes_no_lengths[] = {79, 80, 81, 5000};
const std::size_t text_lengths[] = {259, 260, 261, 5000};
const std::size_t choice_lengths[] = {255, 256, 257, 5000};

TEST(YesNo, OverlongAnswerDiscardsTheRestOfItsLine) {
    for (const std::size_t length : yes_no_lengths) {
        // A line of "n"s: a leaked tail would answer the next question "no".
        TempFile in = input_file(std::string(length, 'n') + "\ny\n");
        TempFile out = output_file();
        EXPECT_EQ(ask_yes_no("Q? ", 1, in.get(), console_on(out.get())), 0) << length;
        EXPECT_EQ(ask_yes_no("Q? ", 0, in.get(), console_on(out.get())), 1) << length;
    }
}

TEST_F(DialogueTest, OverlongLogNameIsAskedAgainNotCut) {
    const std::string too_long = "The name is longer than 259 bytes; enter a shorter one.\n";
    for (const std::size_t length : text_lengths) {
        const std::string name(length, 'n');
        const bool fits = length <= 259;
        ASSERT_EQ(run("\n" + name + "\n" + (fits ? "" : "short.log\n") + "n\n\n\n"), 1) << length;
        const std::string kept = fits ? name : "short.log";
        EXPECT_EQ(std::string(options.log_path), kept) << length;
        EXPECT_EQ(transcript,
                  q_log + log_name_prompt + (fits ? "" : too_long + log_name_prompt) + q_address +
                      q_port + q_detail + q_dump + list1 +
                      expected_report(true, true, kept, "192.168.0.5", "0.0.0.0", "0.0.0.0", 0))
            << length;
    }
}

// Answer files written on Windows end their lines with "\r\n"; an endless
// line (standard input from /dev/zero) ends the input instead of the program.
TEST_F(DialogueTest, CarriageReturnsAndEndlessLines) {
    const struct {
        const char* name;
        std::string input;
        int result;
        std::string log;
        std::uint16_t port;
    } cases[] = {
        {"crlf", "y\r\na.log\r\nn\r\ny\r\n80\r\nn\r\nn\r\n", 1, "a.log", 80},
        {"inner_return_kept", "\r\nb\rc.log\r\nn\r\n", 1, "b\rc.log", 0},
        {"lone_return_at_end", "\r\nd.log\r", -1, "d.log", 0},
        {"one_mib_line_is_an_answer", "\n" + std::string(1 << 20, 'x') + "\ne.log\nn\n", 1, "e.log",
         0},
        {"longer_line_ends_input", "\n" + std::string((1 << 20) + 1, 'x') + "\ne.log\n", -1, "", 0},
        {"zeros_end_input", std::string(3 << 20, '\0'), -1, "", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.input), c.result) << c.name;
        EXPECT_EQ(std::string(options.log_path), c.log) << c.name;
        EXPECT_EQ(options.filter_port, c.port) << c.name;
        if (c.result == -1) {
            EXPECT_EQ(transcript.substr(transcript.size() - input_ended.size()), input_ended)
                << c.name;
        }
    }
}

TEST_F(DialogueTest, OverlongCountAndPort) {
    for (const std::size_t length : text_lengths) {
        // "2" padded with spaces, then "y" at the very end of the line: a
        // leaked tail would say yes to the port question.
        const std::string count = "2" + std::string(length - 2, ' ') + "y";
        // "7" padded with spaces, then "n" at the end: a leaked tail would say
        // no to the detail question.
        const std::string port = "7" + std::string(length - 2, ' ') + "n";
        ASSERT_EQ(run("n\n\n10.0.0.1\n" + count + "\n\n\n"), 1) << length;
        EXPECT_EQ(options.filter_width, 1u) << length;
        EXPECT_EQ(options.filter_port, 0) << length;
        ASSERT_EQ(run("n\nn\ny\n" + port + "\n\n\n"), 1) << length;
        EXPECT_EQ(options.filter_port, 7) << length;
        EXPECT_EQ(options.show_detail, 1) << length;
    }
}

TEST_F(DialogueTest, OverlongChoice) {
    three_addresses();
    for (const std::size_t length : choice_lengths) {
        // "0" padded, then "3" at the end: refused; a leaked "3" would choose
        // the third address instead of the next line's second.
        const std::string choice = "0" + std::string(length - 2, ' ') + "3";
        ASSERT_EQ(run("n\nn\nn\nn\nn\n" + choice + "\n2\n"), 1) << length;
        EXPECT_EQ(options.listen_address, ip(10, 0, 0, 2)) << length;
        EXPECT_EQ(transcript,
                  q_log + q_address + q_port + q_detail + q_dump + list3 + choose3 + choose3 +
                      expected_report(false, false, "", "10.0.0.2", "0.0.0.0", "0.0.0.0", 0))
            << length;
    }
}

// --- End of input -----------------------------------------------------------------

TEST_F(DialogueTest, EndOfInputAtEveryQuestion) {
    three_addresses();
    // One answer per question, in order.
    const std::vector<std::string> answers = {"y", "a.log", "y", "10.0.0.1", "3",
                                              "y", "80",    "y", "y",        "2"};
    // The transcript of the whole run, piece by piece.
    const std::vector<std::string> pieces = {q_log,
                                             log_name_prompt,
                                             q_address,
                                             address_prompt,
                                             address_confirm("0100000A"),
                                             count_prompt,
                                             count_confirm("3"),
                                             q_port,
                                             port_prompt,
                                             port_confirm("00000080"),
                                             q_detail,
                                             q_dump,
                                             list3,
                                             choose3};
    // The choice question has no line end; the end-of-input line starts a new one.
    const std::string choice_tail = q_detail + q_dump + list3 + choose3 + "\n";
    struct {
        std::size_t answers_given;  // the input ends after these
        std::size_t pieces_shown;   // of the whole run's transcript
        std::string then;           // what the defaults lead to
    } const cases[] = {
        {0, 2, ""},                                // log question: yes, then the name is asked
        {1, 2, ""},                                // log file name
        {2, 4, ""},                                // address question: yes, then the address
        {3, 4, ""},                                // address
        {4, 6, ""},                                // count
        {5, 7, q_port + choice_tail},              // port question: no
        {6, 9, ""},                                // port
        {7, 10, choice_tail},                      // detail: yes
        {8, 11, q_dump + list3 + choose3 + "\n"},  // dump: yes
        {9, 14, "\n"},                             // the choice
    };
    for (const auto& c : cases) {
        std::string input;
        for (std::size_t i = 0; i < c.answers_given; ++i) {
            input += answers[i] + "\n";
        }
        std::string expected;
        for (std::size_t i = 0; i < c.pieces_shown; ++i) {
            expected += pieces[i];
        }
        EXPECT_EQ(run(input), -1) << c.answers_given;
        EXPECT_EQ(transcript, expected + c.then + input_ended) << c.answers_given;
    }
    // All ten answers: the dialogue completes.
    std::string input;
    for (const std::string& a : answers) {
        input += a + "\n";
    }
    EXPECT_EQ(run(input), 1);
    EXPECT_EQ(options.listen_address, ip(10, 0, 0, 2));
    EXPECT_EQ(options.filter_port, 80);
}

TEST_F(DialogueTest, EmptyInputWithOneAddressFailsAtTheLogName) {
    EXPECT_EQ(run(""), -1);
    EXPECT_EQ(transcript, q_log + log_name_prompt + input_ended);
}

TEST(ChooseLocalAddress, EndOfInputReturnsZeroAfterOneLine) {
    three_addresses();
    TempFile in = input_file("9\n");
    TempFile out = output_file();
    EXPECT_EQ(choose_local_address(fake_local(), in.get(), console_on(out.get())), 0u);
    EXPECT_EQ(contents(out.get()), list3 + choose3 + choose3 + "\n" + input_ended);
}

}  // namespace

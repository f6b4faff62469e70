// Faults the real monitor must live through without losing an account in
// silence: a SIGKILL at any moment of a flood, and standard streams that are
// closed, full or hung up. Each test uses its own 127.X.N.0/24 (X from the
// process id, so that two runs of these tests at once keep apart) and the
// monitor's address filter, so other loopback traffic never shows.

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

#include "config/dialogue.hpp"
#include "console/messages.hpp"
#include "e2e_support.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"

namespace {

using e2e::Bytes;

// "127.X.n." for this process.
std::string test_net(int n) {
    return "127." + std::to_string(100 + getpid() % 100) + "." + std::to_string(n) + ".";
}

std::string at(const std::string& net, int host) {
    return net + std::to_string(host);
}

// --- Accounts with their time stamps left open --------------------------------

// Two clock readings that differ in every character they print.
constexpr LocalTime first_time{1, 0, 1, 1, 1, 1, 1};
constexpr LocalTime second_time{2, 1, 22, 12, 22, 32, 2222};

// Stands for any character of a time stamp in an account pattern.
constexpr char any_character = '\x01';

// What `renderers` print for `datagram`, each character of its time stamps
// replaced by any_character: the text the two clocks print differently.
std::string account_pattern(const Bytes& datagram, const std::vector<e2e::Renderer>& renderers) {
    std::string pattern = e2e::rendered({datagram}, renderers, first_time);
    const std::string other = e2e::rendered({datagram}, renderers, second_time);
    EXPECT_EQ(pattern.size(), other.size());
    for (std::size_t i = 0; i < pattern.size() && i < other.size(); ++i) {
        if (pattern[i] != other[i]) {
            pattern[i] = any_character;
        }
    }
    return pattern;
}

// How much of `pattern` the log matches from `at`: all of it, or less when
// the log ends first; npos when a character differs.
std::size_t matched_length(const std::string& log, std::size_t at, const std::string& pattern) {
    const std::size_t length = std::min(pattern.size(), log.size() - at);
    for (std::size_t i = 0; i < length; ++i) {
        const char c = log[at + i];
        if (pattern[i] == any_character ? c == '\n' : c != pattern[i]) {
            return std::string::npos;
        }
    }
    return length;
}

struct LogReading {
    int whole_accounts = 0;
    // The log ends inside an account, at a page boundary (see read_log).
    bool ends_at_page_boundary = false;
    std::string fault;  // empty when the log is sound
};

// Reads a log as the options report followed by whole accounts of the
// datagrams sent, in the order sent (some may be missing: the kernel drops
// what the socket has no room for).
//
// A SIGKILL that lands while the kernel copies one write into the page cache
// ends that write at a page boundary: the copy looks for a fatal signal before
// each page, and no program can prevent it. So a log whose size is a whole
// number of pages may end inside its last account; any other cut is the
// monitor's.
LogReading read_log(const std::string& log, const std::string& report,
                    const std::vector<std::string>& patterns) {
    LogReading reading;
    if (log.compare(0, report.size(), report) != 0) {
        reading.fault = "the log does not begin with the options report:\n" + log.substr(0, 400);
        return reading;
    }
    const auto page_size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    std::size_t position = report.size();
    std::size_t next = 0;
    while (position < log.size()) {
        std::size_t found = patterns.size();
        bool cut = false;
        for (std::size_t k = next; k < patterns.size() && found == patterns.size(); ++k) {
            const std::size_t length = matched_length(log, position, patterns[k]);
            if (length == patterns[k].size()) {
                found = k;
            } else if (length != std::string::npos) {
                cut = true;
            }
        }
        if (found == patterns.size()) {
            if (cut && log.size() % page_size == 0) {
                reading.ends_at_page_boundary = true;
            } else {
                reading.fault = std::string(cut ? "the last account is cut" : "no account") +
                                " at byte " + std::to_string(position) + " of " +
                                std::to_string(log.size()) + ":\n" + log.substr(position, 400);
            }
            return reading;
        }
        ++reading.whole_accounts;
        next = found + 1;
        position += patterns[found].size();
    }
    return reading;
}

std::size_t file_size(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
}

// --- Stop at any moment -------------------------------------------------------

// Datagram `i` of a flood: UDP from source port 20000 + i with identification
// i + 1, so that each account names its datagram.
using FloodDatagram = Bytes (*)(const std::string& net, int i);

Bytes short_datagram(const std::string& net, int i) {
    return e2e::ipv4_datagram(17, at(net, 1).c_str(), at(net, 2).c_str(),
                              e2e::udp_datagram(static_cast<std::uint16_t>(20000 + i), 5190,
                                                "flood " + std::to_string(i)),
                              static_cast<std::uint16_t>(i + 1));
}

// Mostly 2000 bytes, whose detail view and dump make an account over 8 KB;
// every fourth one short.
Bytes long_datagram(const std::string& net, int i) {
    std::string payload(i % 4 == 3 ? 100 : 1972, '\0');
    for (std::size_t k = 0; k < payload.size(); ++k) {
        payload[k] = static_cast<char>((static_cast<std::size_t>(i) + k) % 251);
    }
    return e2e::ipv4_datagram(
        17, at(net, 1).c_str(), at(net, 2).c_str(),
        e2e::udp_datagram(static_cast<std::uint16_t>(20000 + i), 5190, payload),
        static_cast<std::uint16_t>(i + 1));
}

struct Flood {
    std::vector<std::string> options;  // view options before -f
    std::vector<e2e::Renderer> renderers;
    FloodDatagram datagram;
    int count;
    int runs;
    int first_net;  // run r uses test_net(first_net + r)
};

class StopAtAnyMomentTest : public ::testing::Test {
protected:
    void SetUp() override {
        E2E_SKIP_UNLESS_CAPTURE_WORKS();
        dir = e2e::make_temp_dir();
    }

    void TearDown() override {
        e2e::stop(monitor);
        e2e::release_holds(holds);
        if (!dir.empty()) {
            std::filesystem::remove_all(dir);
        }
    }

    // Floods the monitor and kills it when its log has reached a random size,
    // after a random pause; then reads the log. Returns the whole accounts
    // read over all runs.
    int kill_during_floods(const Flood& flood) {
        std::random_device entropy;
        const unsigned seed = entropy();
        SCOPED_TRACE("seed " + std::to_string(seed));
        std::mt19937 random(seed);
        int whole_accounts = 0;
        for (int run = 0; run < flood.runs; ++run) {
            SCOPED_TRACE("run " + std::to_string(run));
            whole_accounts += kill_during_flood(flood, run, random);
        }
        return whole_accounts;
    }

    int kill_during_flood(const Flood& flood, int run, std::mt19937& random) {
        const std::string net = test_net(flood.first_net + run);
        const std::string log_path = dir + "/run" + std::to_string(run) + ".log";
        std::vector<std::string> arguments = flood.options;
        const std::vector<std::string> rest{"-f", log_path, "-i",       at(net, 0),
                                            "-w", "256",    "127.0.0.1"};
        arguments.insert(arguments.end(), rest.begin(), rest.end());

        std::vector<Bytes> datagrams;
        std::vector<std::string> patterns;
        std::size_t total = 0;
        for (int i = 0; i < flood.count; ++i) {
            datagrams.push_back(flood.datagram(net, i));
            patterns.push_back(account_pattern(datagrams.back(), flood.renderers));
            total += patterns.back().size();
        }
        const MonitorOptions options = e2e::options_for(arguments);
        const std::string report =
            e2e::printed([&](std::FILE* stream) { print_options(stream, options); });

        monitor = e2e::start_monitor(dir, arguments);
        if (!e2e::wait_for_listening(monitor) || !e2e::wait_for_size(log_path, report.size())) {
            ADD_FAILURE() << "the monitor did not start: " << e2e::read_file(monitor.err_path);
            return 0;
        }
        e2e::hold_destinations(holds, {datagrams.front()});

        std::atomic<bool> all_sent{false};
        std::thread sender([&] {
            constexpr std::size_t chunk = 50;
            for (std::size_t first = 0; first < datagrams.size(); first += chunk) {
                const auto end = datagrams.begin() + static_cast<std::ptrdiff_t>(
                                                         std::min(first + chunk, datagrams.size()));
                e2e::send_datagrams({datagrams.begin() + static_cast<std::ptrdiff_t>(first), end});
            }
            all_sent = true;
        });

        // Kill when the log has reached the target, or when everything has been
        // sent and the log has stopped growing.
        const std::size_t target =
            report.size() + std::uniform_int_distribution<std::size_t>(0, total)(random);
        const auto give_up = std::chrono::steady_clock::now() + e2e::deadline;
        auto last_growth = std::chrono::steady_clock::now();
        std::size_t size = file_size(log_path);
        while (size < target && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(std::chrono::microseconds(20));
            const std::size_t now_size = file_size(log_path);
            if (now_size != size) {
                size = now_size;
                last_growth = std::chrono::steady_clock::now();
            } else if (all_sent && std::chrono::steady_clock::now() - last_growth >
                                       std::chrono::milliseconds(200)) {
                break;
            }
        }
        std::this_thread::sleep_for(
            std::chrono::microseconds(std::uniform_int_distribution<int>(0, 300)(random)));
        e2e::stop(monitor, SIGKILL);
        sender.join();
        e2e::release_holds(holds);

        const std::string log = e2e::read_file(log_path);
        const LogReading reading = read_log(log, report, patterns);
        EXPECT_EQ(reading.fault, "");
        return reading.whole_accounts;
    }

    std::string dir;
    e2e::Monitor monitor;
    std::vector<int> holds;
};

TEST_F(StopAtAnyMomentTest, SummaryLogHoldsOnlyWholeAccounts) {
    const int whole = kill_during_floods({{}, {e2e::summary}, short_datagram, 2000, 4, 1});
    EXPECT_GT(whole, 0) << "no run saw a single account";
}

TEST_F(StopAtAnyMomentTest, DetailAndDumpLogHoldsOnlyWholeAccountsOver8KB) {
    const std::string longest =
        account_pattern(long_datagram(test_net(0), 0), {e2e::detail, e2e::hex_dump});
    // Twice a file stream's default buffer (one 4096-byte block): without a
    // larger one, each such account reached the file in pieces.
    ASSERT_GT(longest.size(), 8000u);
    const int whole = kill_during_floods(
        {{"-d", "-b"}, {e2e::detail, e2e::hex_dump}, long_datagram, 300, 24, 11});
    EXPECT_GT(whole, 0) << "no run saw a single account";
}

// --- Standard streams ---------------------------------------------------------

// The monitor started through the shell, which first applies `redirections`
// (such as "<&-" or ">/dev/full") to the monitor's standard streams.
e2e::Monitor start_redirected(const std::string& dir, const std::string& redirections,
                              const std::vector<std::string>& arguments) {
    std::vector<std::string> command{"sh", "-c", "exec \"$0\" \"$@\" " + redirections,
                                     PKTWATCH_EXE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return e2e::start_process(dir, command);
}

// What the console shows when the dialogue is held over `answers`.
std::string dialogue_transcript(const std::string& answers) {
    return e2e::printed([&](std::FILE* stream) {
        const Console console{stream, ConsoleEncoding::shift_jis};
        const LocalAddresses local = e2e::local_addresses();
        MonitorOptions options{};
        options.listen_address = default_local_address(local, console);
        std::string text = answers;
        std::FILE* in =
            text.empty() ? std::fopen("/dev/null", "r") : fmemopen(text.data(), text.size(), "r");
        EXPECT_EQ(run_setup_dialogue(options, local, in, console), -1);
        std::fclose(in);
    });
}

// A few datagrams of different kinds, the last one 2000 bytes long.
std::vector<Bytes> some_datagrams(const std::string& net) {
    const std::string a = at(net, 1);
    const std::string b = at(net, 2);
    return {
        e2e::ipv4_datagram(6, a.c_str(), b.c_str(), e2e::tcp_segment(1030, 80, 1, 2, 0x14), 0x0101),
        e2e::ipv4_datagram(1, b.c_str(), a.c_str(), e2e::icmp_message(0, 0, 0x00010002), 0x0202),
        e2e::ipv4_datagram(17, a.c_str(), b.c_str(), e2e::udp_datagram(40001, 5190, "hello"),
                           0x0303),
        long_datagram(net, 7),
    };
}

class StandardStreamTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = e2e::make_temp_dir();
        log_path = dir + "/pktwatch.log";
    }

    void TearDown() override {
        e2e::stop(monitor);
        e2e::release_holds(holds);
        std::filesystem::remove_all(dir);
    }

    std::string out() const { return e2e::read_file(monitor.out_path); }
    std::string err() const { return e2e::read_file(monitor.err_path); }

    // Sends `datagrams` to the monitor, which was started with `arguments` and
    // logs to log_path, and checks that the log holds exactly the options
    // report and their accounts while the monitor keeps running.
    void expect_whole_log(const std::vector<std::string>& arguments,
                          const std::vector<Bytes>& datagrams,
                          const std::vector<e2e::Renderer>& renderers) {
        const MonitorOptions options = e2e::options_for(arguments);
        const std::string report =
            e2e::printed([&](std::FILE* stream) { print_options(stream, options); });
        ASSERT_TRUE(e2e::wait_for_size(log_path, report.size())) << err();
        e2e::hold_destinations(holds, datagrams);
        e2e::send_datagrams(datagrams);
        const std::string expected = report + e2e::rendered(datagrams, renderers);
        EXPECT_TRUE(e2e::wait_for_size(log_path, expected.size())) << e2e::read_file(log_path);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        int status = 0;
        EXPECT_EQ(waitpid(monitor.pid, &status, WNOHANG), 0) << "the monitor ended";
        e2e::stop(monitor);
        EXPECT_EQ(e2e::mask_times(e2e::read_file(log_path)), e2e::mask_times(expected));
    }

    std::string dir;
    std::string log_path;
    e2e::Monitor monitor;
    std::vector<int> holds;
};

// Standard input at its end from the start, or not there at all: the dialogue
// takes its defaults up to the first question without one, says that the
// input ended, and the monitor ends with status 0.
TEST_F(StandardStreamTest, DialogueEndsWhenStandardInputIsEmptyOrClosed) {
    const std::string expected = e2e::start_banner() + dialogue_transcript("");
    ASSERT_EQ(expected.substr(expected.size() - e2e::console_message(msg_input_ended).size()),
              e2e::console_message(msg_input_ended));
    for (const char* redirection : {"", "<&-"}) {
        SCOPED_TRACE(std::string("standard input ") +
                     (redirection[0] == '\0' ? "empty" : "closed"));
        monitor = start_redirected(dir, redirection, {});
        EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 0);
        EXPECT_EQ(out(), expected);
        EXPECT_EQ(err(), "");
    }
}

// The dialogue on a terminal that hangs up after the first answer: the next
// read finds the input ended, and the monitor ends with status 0.
TEST_F(StandardStreamTest, DialogueEndsWhenTheTerminalHangsUp) {
    std::string device;
    std::string why;
    const int terminal = e2e::open_terminal(&device, &why);
    if (terminal < 0) {
        GTEST_SKIP() << why;
    }
    // The monitor does not lead a session, so the terminal does not become
    // its controlling one and the hang-up sends it no SIGHUP: it must notice
    // the end of its input by itself.
    monitor = e2e::start_process(dir, {"sh", "-c", "exec \"$0\" >" + device, PKTWATCH_EXE}, device);

    const std::string transcript = dialogue_transcript("n\n");
    const std::string first = e2e::console_message(msg_ask_log_file);
    const std::string second = e2e::console_message(msg_ask_address_filter);
    ASSERT_NE(transcript.find(first), std::string::npos);
    const std::string up_to_first =
        e2e::start_banner() + transcript.substr(0, transcript.find(first) + first.size());
    std::string shown;
    EXPECT_TRUE(e2e::read_terminal_until(terminal, e2e::on_terminal(up_to_first), shown)) << shown;
    EXPECT_EQ(write(terminal, "n\n", 2), 2);
    // The terminal echoes the answer.
    EXPECT_TRUE(e2e::read_terminal_until(terminal, e2e::on_terminal(second), shown)) << shown;
    close(terminal);

    EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 0);
    EXPECT_EQ(shown, e2e::on_terminal(up_to_first + "n\n" + second));
    EXPECT_EQ(err(), "");
}

// With a log file the console only echoes; the log is the record. A console
// that takes nothing neither ends the monitor nor touches the log.
TEST_F(StandardStreamTest, FullConsoleLeavesTheLogWholeAndTheMonitorRunning) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string net = test_net(40);
    const std::vector<std::string> arguments{"-d",       "-b", "-f",  log_path,   "-i",
                                             at(net, 0), "-w", "256", "127.0.0.1"};
    monitor = start_redirected(dir, ">/dev/full", arguments);
    const std::vector<Bytes> datagrams = some_datagrams(net);
    expect_whole_log(arguments, datagrams, {e2e::detail, e2e::hex_dump});
    // Every echo failed to reach the console, and was counted.
    const auto count = static_cast<unsigned>(datagrams.size());
    EXPECT_EQ(err(), e2e::stop_summary(count, count, 0, count));
}

// A console nobody reads (a pipe whose reader is there but never reads) must
// not hold up the log: the echoes it cannot take are skipped and counted.
TEST_F(StandardStreamTest, ConsoleNobodyReadsCostsEchoesNotTheLog) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string net = test_net(42);
    const std::string console = dir + "/console";
    ASSERT_EQ(mkfifo(console.c_str(), 0600), 0);
    const int reader = open(console.c_str(), O_RDONLY | O_NONBLOCK);  // held, never read
    ASSERT_GE(reader, 0);
    const std::vector<std::string> arguments{"-f", log_path, "-i",       at(net, 0),
                                             "-w", "256",    "127.0.0.1"};
    monitor = start_redirected(dir, ">" + console, arguments);
    // Far more echo than a pipe holds.
    std::vector<Bytes> datagrams;
    for (int n = 0; n < 1000; ++n) {
        datagrams.push_back(e2e::ipv4_datagram(17, at(net, 1).c_str(), at(net, 2).c_str(),
                                               e2e::udp_datagram(40000, 5190, "echo"),
                                               static_cast<std::uint16_t>(n)));
    }
    expect_whole_log(arguments, datagrams, {e2e::summary});
    close(reader);
    const std::string summary = err();
    EXPECT_NE(summary.find("1000 datagrams received, 1000 shown"), std::string::npos) << summary;
    EXPECT_EQ(summary.find(" 0 console echoes skipped"), std::string::npos) << summary;
}

// Closed standard streams are not handed on: neither the capture socket nor
// the log file may take their numbers, or the console's text would go into
// the log (or out onto the interface).
TEST_F(StandardStreamTest, ClosedStandardStreamsStayOutOfTheLog) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string net = test_net(41);
    const std::vector<std::string> arguments{"-f", log_path, "-i",       at(net, 0),
                                             "-w", "256",    "127.0.0.1"};
    monitor = start_redirected(dir, "<&- >&- 2>&-", arguments);
    expect_whole_log(arguments, some_datagrams(net), {e2e::summary});
}

// Without a log file standard output is the record: when it cannot be
// written the monitor says why on standard error and ends with status -1,
// rather than watching on and losing every account.
TEST_F(StandardStreamTest, ConsoleThatCannotBeWrittenWithoutALogEndsTheMonitor) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string net = test_net(42);
    const struct {
        const char* redirection;
        int error;
    } cases[] = {{">/dev/full", ENOSPC}, {">&-", EBADF}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.redirection);
        monitor =
            start_redirected(dir, c.redirection, {"-i", at(net, 0), "-w", "256", "127.0.0.1"});
        EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 255);
        EXPECT_EQ(err(),
                  std::string("pktwatch: standard output: ") + std::strerror(c.error) + "\n");
    }
}

}  // namespace

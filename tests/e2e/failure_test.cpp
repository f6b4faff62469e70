// The ways the real monitor ends before or instead of monitoring: the exact
// lines, on which stream, and the exit status.
#include <cstdlib>
#include <filesystem>

#include "console/messages.hpp"
#include "e2e_support.hpp"

namespace {

class FailureTest : public ::testing::Test {
protected:
    void SetUp() override { dir = e2e::make_temp_dir(); }

    void TearDown() override {
        e2e::stop(monitor);
        std::filesystem::remove_all(dir);
    }

    // Runs the monitor to its end; its exit code.
    int run(const std::vector<std::string>& arguments) {
        monitor = e2e::start_monitor(dir, arguments);
        return e2e::exit_code(e2e::wait_for_exit(monitor));
    }

    std::string out() const { return e2e::read_file(monitor.out_path); }
    std::string err() const { return e2e::read_file(monitor.err_path); }

    // The command that runs a copy of the monitor (one the ordinary user can
    // be sure it may execute) with `arguments` as nobody, without
    // privileges; empty, with the reason in `why`, where that cannot be done.
    std::vector<std::string> as_ordinary_user(const std::vector<std::string>& arguments,
                                              std::string* why) {
        if (geteuid() != 0) {
            *why = "not running as root: cannot switch to an ordinary user";
            return {};
        }
        if (std::system("command -v setpriv >/dev/null 2>&1") != 0) {
            *why = "setpriv is not installed";
            return {};
        }
        program = dir + "/pktwatch";
        std::filesystem::copy_file(PKTWATCH_EXE, program,
                                   std::filesystem::copy_options::overwrite_existing);
        chmod(program.c_str(), 0755);
        std::vector<std::string> command{"setpriv", "--reuid=65534", "--regid=65534",
                                         "--clear-groups", program};
        command.insert(command.end(), arguments.begin(), arguments.end());
        return command;
    }

    std::string dir;
    std::string program;
    e2e::Monitor monitor;
};

// Everything the console shows before the capture socket is opened.
std::string console_before_capture(const std::vector<std::string>& arguments) {
    std::string set_up;
    e2e::options_for(arguments, &set_up);
    return e2e::start_banner() + set_up;
}

TEST_F(FailureTest, HelpPrintsTheUsageAgainAndEndsWithStatusZero) {
    // A bad value after -h is never looked at.
    const std::vector<std::string> arguments{"-d", "-h", "-p", "0"};
    EXPECT_EQ(run(arguments), 0);
    std::string usage = e2e::printed([](std::FILE* stream) { print_usage(stream); });
    EXPECT_EQ(out(), e2e::start_banner() + usage);
    EXPECT_EQ(err(), "");
}

TEST_F(FailureTest, BadOptionValueEndsWithStatus255) {
    const struct {
        std::vector<std::string> arguments;
        const char* message;
    } cases[] = {
        {{"-p", "65536", "127.0.0.1"}, msg_bad_filter_port},
        {{"-i", "localhost", "127.0.0.1"}, msg_bad_filter_address},
        {{"-d", "1.2.3"}, msg_bad_bind_address},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run(c.arguments), 255) << c.message;
        EXPECT_EQ(out(), e2e::start_banner() + e2e::console_message(c.message));
        EXPECT_EQ(err(), "");
    }
}

// A misspelt long option ends the monitor before it watches anything.
TEST_F(FailureTest, UnknownLongOptionEndsWithStatus255) {
    EXPECT_EQ(run({"--cuont", "5", "127.0.0.1"}), 255);
    EXPECT_EQ(out(), e2e::start_banner());
    EXPECT_EQ(err(), "pktwatch: unknown option --cuont\n");
}

TEST_F(FailureTest, VersionEndsWithStatusZero) {
    EXPECT_EQ(run({"--version", "-p", "0"}), 0);
    EXPECT_EQ(out(), e2e::start_banner() + "pktwatch " + PKTWATCH_VERSION + "\n");
    EXPECT_EQ(err(), "");
}

TEST_F(FailureTest, OrdinaryUserWithoutCapNetRawCannotOpenTheSocket) {
    std::string why;
    const std::vector<std::string> command = as_ordinary_user({"127.0.0.1"}, &why);
    if (command.empty()) {
        GTEST_SKIP() << why;
    }
    monitor = e2e::start_process(dir, command);
    const int status = e2e::exit_code(e2e::wait_for_exit(monitor));

    EXPECT_EQ(status, 255);
    EXPECT_EQ(out(), console_before_capture({"127.0.0.1"}) + "::socket() failed.");
    // One more line, on standard error: the reason and what to do about it.
    const std::string reason = err();
    EXPECT_EQ(reason.rfind("pktwatch: cannot open the capture socket: ", 0), 0u) << reason;
    EXPECT_EQ(e2e::count_of(reason, "\n"), 1) << reason;
    EXPECT_NE(reason.find(std::strerror(EPERM)), std::string::npos) << reason;
    EXPECT_NE(reason.find("root"), std::string::npos) << reason;
    EXPECT_NE(reason.find("setcap cap_net_raw+ep " + program), std::string::npos) << reason;
}

// "::socket() failed." keeps no line end on standard output; where standard
// error is the same terminal, the reason starts on a line of its own there.
// Into two files, the bytes are those above.
TEST_F(FailureTest, OnOneTerminalTheSocketsReasonStartsALineOfItsOwn) {
    std::string why;
    const std::vector<std::string> command = as_ordinary_user({"127.0.0.1"}, &why);
    if (command.empty()) {
        GTEST_SKIP() << why;
    }
    monitor = e2e::start_process(dir, command);
    ASSERT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 255);
    const std::string output = out();
    const std::string reason = err();
    ASSERT_TRUE(output.ends_with("::socket() failed.")) << output;
    ASSERT_EQ(reason.rfind("pktwatch: ", 0), 0u) << reason;

    std::string device;
    const int terminal = e2e::open_terminal(&device, &why);
    if (terminal < 0) {
        GTEST_SKIP() << why;
    }
    std::vector<std::string> on_terminal{"sh", "-c", "exec \"$0\" \"$@\" >" + device + " 2>&1"};
    on_terminal.insert(on_terminal.end(), command.begin(), command.end());
    monitor = e2e::start_process(dir, on_terminal);
    const std::string expected = e2e::on_terminal(output + "\n" + reason);
    std::string shown;
    EXPECT_TRUE(e2e::read_terminal_until(terminal, expected, shown)) << shown;
    EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 255);
    close(terminal);
    EXPECT_EQ(shown, expected);
}

TEST_F(FailureTest, AddressNoInterfaceHoldsCannotBeBound) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    // A documentation address, and all ones.
    for (const std::string listen : {"198.51.100.77", "255.255.255.255"}) {
        SCOPED_TRACE(listen);
        EXPECT_EQ(run({"-d", listen}), 255);
        EXPECT_EQ(out(), console_before_capture({"-d", listen}));
        EXPECT_EQ(err(), "::bind() error.\npktwatch: cannot bind to " + listen + ": " +
                             std::strerror(EADDRNOTAVAIL) + "\n");
    }
}

TEST_F(FailureTest, LogFileThatCannotBeCreated) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string path = dir + "/no-such-folder/pktwatch.log";
    const std::vector<std::string> arguments{"-f", path, "127.0.0.1"};
    EXPECT_EQ(run(arguments), 255);
    EXPECT_EQ(out(),
              e2e::console_until_listening(arguments) + e2e::console_message(msg_log_open_failed));
    EXPECT_EQ(err(), "pktwatch: log file " + path + ": " + std::strerror(ENOENT) + "\n");
}

// A log the accounts cannot reach is not carried on with in silence.
TEST_F(FailureTest, LogFileThatCannotBeWritten) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::vector<std::string> arguments{"-f", "/dev/full", "127.0.0.1"};
    EXPECT_EQ(run(arguments), 255);
    EXPECT_EQ(out(), e2e::console_until_listening(arguments));
    EXPECT_EQ(err(), std::string("pktwatch: log file /dev/full: ") + std::strerror(ENOSPC) + "\n");
}

}  // namespace

// The ways the real monitor ends before or instead of monitoring: the exact
// lines, on which stream, and the exit status.
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

    std::string dir;
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
    if (geteuid() != 0) {
        GTEST_SKIP() << "not running as root: cannot switch to an ordinary user";
    }
    // The ordinary user runs a copy the test can be sure it may execute.
    const std::string program = dir + "/pktwatch";
    std::filesystem::copy_file(PKTWATCH_EXE, program);
    chmod(program.c_str(), 0755);
    monitor = e2e::start_process(
        dir, {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", program, "127.0.0.1"});
    const int status = e2e::exit_code(e2e::wait_for_exit(monitor));
    if (status == 127 && out().empty()) {
        GTEST_SKIP() << "setpriv is not installed";
    }

    EXPECT_EQ(status, 255);
    EXPECT_EQ(out(), console_before_capture({"127.0.0.1"}) + "::socket() failed.");
    // One more line, on standard error: the reason and what to do about it.
    const std::string reason = err();
    EXPECT_EQ(e2e::count_of(reason, "\n"), 1) << reason;
    EXPECT_NE(reason.find(std::strerror(EPERM)), std::string::npos) << reason;
    EXPECT_NE(reason.find("root"), std::string::npos) << reason;
    EXPECT_NE(reason.find("setcap cap_net_raw+ep " + program), std::string::npos) << reason;
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

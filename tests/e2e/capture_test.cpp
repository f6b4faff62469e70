// The real monitor on 127.0.0.1, fed crafted datagrams on loopback: what it
// prints, where, and how often. Each test uses its own 127.77.N.0/24 and the
// monitor's address filter, so other loopback traffic never shows.
#include <filesystem>

#include "e2e_support.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"

namespace {

using e2e::Bytes;

std::string at(const std::string& net, int host) {
    return net + std::to_string(host);
}

// One datagram of each kind the views tell apart: TCP, UDP, three ICMP types
// (named with a code line, named, numeric) and a protocol without a block,
// 24 bytes long so that its port fields lie beyond its end.
std::vector<Bytes> mixed_datagrams(const std::string& net) {
    const std::string a = at(net, 1);
    const std::string b = at(net, 2);
    return {
        e2e::ipv4_datagram(6, a.c_str(), b.c_str(),
                           e2e::tcp_segment(1030, 80, 1, 0xFFFFFFFF, 0x1C, "GET / HTTP/1.0\r\n"),
                           0x0101),
        e2e::ipv4_datagram(17, b.c_str(), a.c_str(), e2e::udp_datagram(40001, 5190, "hello"),
                           0x0202, 1),
        e2e::ipv4_datagram(1, a.c_str(), b.c_str(), e2e::icmp_message(1, 3, 0), 0x0303),
        e2e::ipv4_datagram(1, b.c_str(), a.c_str(), e2e::icmp_message(0, 0, 0x00010002), 0x0404),
        e2e::ipv4_datagram(1, a.c_str(), b.c_str(), e2e::icmp_message(30, 0, 0), 0x0505),
        e2e::ipv4_datagram(200, a.c_str(), b.c_str(), Bytes{'a', 'b', 'c', 'd'}, 0x0606, 255),
    };
}

// A last UDP datagram: once its account is out, everything sent before it
// has been received.
Bytes sentinel(const std::string& net) {
    return e2e::ipv4_datagram(17, at(net, 1).c_str(), at(net, 250).c_str(),
                              e2e::udp_datagram(40250, 5190, "end"), 0x7777);
}

class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override {
        E2E_SKIP_UNLESS_CAPTURE_WORKS();
        dir = e2e::make_temp_dir();
        log_path = dir + "/pktwatch.log";
    }

    void TearDown() override {
        e2e::stop(monitor);
        e2e::release_holds(holds);
        if (!dir.empty()) {
            std::filesystem::remove_all(dir);
        }
    }

    // Starts the monitor and waits until it listens.
    void start(const std::vector<std::string>& arguments) {
        monitor = e2e::start_monitor(dir, arguments);
        ASSERT_TRUE(e2e::wait_for_listening(monitor))
            << "stdout:\n"
            << e2e::read_file(monitor.out_path) << "\nstderr:\n"
            << e2e::read_file(monitor.err_path);
    }

    void send(const std::vector<Bytes>& datagrams) {
        e2e::hold_destinations(holds, datagrams);
        e2e::send_datagrams(datagrams);
    }

    // Waits until `path` has grown to the size of `expected`, stops the
    // monitor, and compares, time stamps masked.
    void expect_file(const std::string& path, const std::string& expected) {
        EXPECT_TRUE(e2e::wait_for_size(path, expected.size()))
            << "timed out; " << path << " holds:\n"
            << e2e::read_file(path);
        // A stop signal: what was pending is written, the counts are said,
        // and the process ends as that signal ends it.
        const int status = e2e::stop(monitor);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
        EXPECT_EQ(e2e::mask_times(e2e::read_file(path)), e2e::mask_times(expected)) << path;
    }

    std::string dir;
    std::string log_path;
    e2e::Monitor monitor;
    std::vector<int> holds;
};

TEST_F(CaptureTest, SummaryViewOnTheConsole) {
    const std::string net = "127.77.1.";
    const std::vector<std::string> arguments{"-i", at(net, 0), "-w", "256", "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    std::vector<Bytes> datagrams = mixed_datagrams(net);
    datagrams.push_back(sentinel(net));
    send(datagrams);

    expect_file(monitor.out_path,
                e2e::console_until_listening(arguments) + e2e::rendered(datagrams, {e2e::summary}));
    const auto count = static_cast<unsigned>(datagrams.size());
    EXPECT_EQ(e2e::read_file(monitor.err_path), e2e::stop_summary(count, count, 0, 0));
}

TEST_F(CaptureTest, DetailViewAndDumpOnTheConsole) {
    const std::string net = "127.77.2.";
    const std::vector<std::string> arguments{"-d", "-b",  "-i",       at(net, 0),
                                             "-w", "256", "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    std::vector<Bytes> datagrams = mixed_datagrams(net);
    datagrams.push_back(sentinel(net));
    send(datagrams);

    expect_file(monitor.out_path, e2e::console_until_listening(arguments) +
                                      e2e::rendered(datagrams, {e2e::detail, e2e::hex_dump}));
    const auto count = static_cast<unsigned>(datagrams.size());
    EXPECT_EQ(e2e::read_file(monitor.err_path), e2e::stop_summary(count, count, 0, 0));
}

// With a log file the account goes to the file, after the options report, and
// the console gets only the echo: no IPv4 block, never the dump.
TEST_F(CaptureTest, DetailViewAndDumpToTheLogAndTheEchoOnTheConsole) {
    const std::string net = "127.77.3.";
    const std::vector<std::string> arguments{"-d",       "-b", "-f",  log_path,   "-i",
                                             at(net, 0), "-w", "256", "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    std::vector<Bytes> datagrams = mixed_datagrams(net);
    datagrams.push_back(sentinel(net));
    send(datagrams);

    // The echo follows the flush of the log, so a complete console means a
    // complete log.
    expect_file(monitor.out_path, e2e::console_until_listening(arguments) +
                                      e2e::rendered(datagrams, {e2e::console_echo}));
    const MonitorOptions options = e2e::options_for(arguments);
    EXPECT_EQ(
        e2e::mask_times(e2e::read_file(log_path)),
        e2e::mask_times(e2e::printed([&](std::FILE* stream) { print_options(stream, options); }) +
                        e2e::rendered(datagrams, {e2e::detail, e2e::hex_dump})));
    const auto count = static_cast<unsigned>(datagrams.size());
    EXPECT_EQ(e2e::read_file(monitor.err_path), e2e::stop_summary(count, count, 0, 0));
}

TEST_F(CaptureTest, SummaryViewToTheLog) {
    const std::string net = "127.77.4.";
    const std::vector<std::string> arguments{"-f", log_path, "-i",       at(net, 0),
                                             "-w", "256",    "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    std::vector<Bytes> datagrams = mixed_datagrams(net);
    datagrams.push_back(sentinel(net));
    send(datagrams);

    expect_file(monitor.out_path, e2e::console_until_listening(arguments) +
                                      e2e::rendered(datagrams, {e2e::console_echo}));
    const MonitorOptions options = e2e::options_for(arguments);
    EXPECT_EQ(
        e2e::mask_times(e2e::read_file(log_path)),
        e2e::mask_times(e2e::printed([&](std::FILE* stream) { print_options(stream, options); }) +
                        e2e::rendered(datagrams, {e2e::summary})));
}

// A stop shows what had come already: the monitor is held still (SIGSTOP)
// while 1,500 datagrams arrive, then stopped; every one of them is shown or
// counted as dropped by the kernel.
TEST_F(CaptureTest, AStopShowsTheDatagramsThatHadComeAlready) {
    const std::string net = "127.77.10.";
    const std::vector<std::string> arguments{"-f", log_path, "-i",       at(net, 0),
                                             "-w", "256",    "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    const MonitorOptions options = e2e::options_for(arguments);
    const std::string report =
        e2e::printed([&](std::FILE* stream) { print_options(stream, options); });
    ASSERT_TRUE(e2e::wait_for_size(log_path, report.size()));
    constexpr int sent = 1500;
    std::vector<Bytes> datagrams;
    for (int n = 0; n < sent; ++n) {
        datagrams.push_back(e2e::ipv4_datagram(17, at(net, 1).c_str(), at(net, 2).c_str(),
                                               e2e::udp_datagram(40000, 5190, "waiting"),
                                               static_cast<std::uint16_t>(n)));
    }
    ASSERT_EQ(kill(monitor.pid, SIGSTOP), 0);
    send(datagrams);
    ASSERT_EQ(kill(monitor.pid, SIGTERM), 0);
    ASSERT_EQ(kill(monitor.pid, SIGCONT), 0);
    const int status = e2e::wait_for_exit(monitor);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;

    unsigned received = 0;
    unsigned shown_count = 0;
    unsigned filtered = 0;
    unsigned dropped = 0;
    const std::string err = e2e::read_file(monitor.err_path);
    ASSERT_EQ(std::sscanf(err.c_str(),
                          "pktwatch: %u datagrams received, %u shown, %u left out by the filter, "
                          "%u dropped by the kernel",
                          &received, &shown_count, &filtered, &dropped),
              4)
        << err;
    EXPECT_EQ(shown_count + dropped, static_cast<unsigned>(sent)) << err;
    EXPECT_EQ(filtered, 0u) << err;
    EXPECT_GT(shown_count, 0u) << err;
    EXPECT_EQ(e2e::count_of(e2e::read_file(log_path), "Port src->dst"),
              static_cast<int>(shown_count));
}

// Loopback shows every datagram to a packet socket twice (going out and coming
// in); the monitor prints each once.
TEST_F(CaptureTest, EachDatagramOnLoopbackIsShownOnce) {
    const std::string net = "127.77.5.";
    ASSERT_NO_FATAL_FAILURE(start({"-i", at(net, 0), "-w", "256", "127.0.0.1"}));
    std::vector<Bytes> datagrams;
    for (int i = 0; i < 20; ++i) {
        datagrams.push_back(e2e::ipv4_datagram(
            17, at(net, 1).c_str(), at(net, 2).c_str(),
            e2e::udp_datagram(static_cast<std::uint16_t>(41000 + i), 5190, "once"),
            static_cast<std::uint16_t>(i + 1)));
    }
    datagrams.push_back(sentinel(net));
    send(datagrams);

    ASSERT_TRUE(e2e::wait_for_text(monitor.out_path, at(net, 250) + ":"));
    e2e::stop(monitor);
    const std::string out = e2e::read_file(monitor.out_path);
    EXPECT_EQ(e2e::count_of(out, "-[32bytes]->"), 20) << out;
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(e2e::count_of(out, ":" + std::to_string(41000 + i) + " -["), 1) << i;
    }
}

// The range 127.77.6.10 - 127.77.6.12: a datagram passes when its source or
// its destination lies inside.
TEST_F(CaptureTest, AddressFilterDropsDatagramsOutsideTheRange) {
    const std::string net = "127.77.6.";
    const std::vector<std::string> arguments{"-i", at(net, 10), "-w", "3", "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    const auto udp = [&](int from, int to, std::uint16_t port) {
        return e2e::ipv4_datagram(17, at(net, from).c_str(), at(net, to).c_str(),
                                  e2e::udp_datagram(port, 5190, "range"));
    };
    const std::vector<Bytes> datagrams{udp(1, 9, 40001),  udp(1, 10, 40002),  udp(12, 1, 40003),
                                       udp(1, 13, 40004), udp(11, 12, 40005), udp(13, 9, 40006),
                                       udp(1, 12, 40007)};
    send(datagrams);

    expect_file(monitor.out_path,
                e2e::console_until_listening(arguments) +
                    e2e::rendered({datagrams[1], datagrams[2], datagrams[4], datagrams[6]},
                                  {e2e::summary}));
}

// Port 5190 as either port passes, whatever the protocol: also an ICMP message
// whose type and code bytes read 5190 (0x1446).
TEST_F(CaptureTest, PortFilterDropsDatagramsOfOtherPorts) {
    const std::string net = "127.77.7.";
    const std::vector<std::string> arguments{"-i", at(net, 0), "-w",       "256",
                                             "-p", "5190",     "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    const std::string a = at(net, 1);
    const std::string b = at(net, 2);
    const std::vector<Bytes> datagrams{
        e2e::ipv4_datagram(17, a.c_str(), b.c_str(), e2e::udp_datagram(40000, 5190, "to")),
        e2e::ipv4_datagram(17, b.c_str(), a.c_str(), e2e::udp_datagram(5190, 40001, "from")),
        e2e::ipv4_datagram(17, a.c_str(), b.c_str(), e2e::udp_datagram(40002, 5191, "other")),
        e2e::ipv4_datagram(6, a.c_str(), b.c_str(), e2e::tcp_segment(5190, 80, 7, 0, 0x04)),
        e2e::ipv4_datagram(6, a.c_str(), b.c_str(), e2e::tcp_segment(5191, 80, 7, 0, 0x04)),
        e2e::ipv4_datagram(1, a.c_str(), b.c_str(), e2e::icmp_message(0x14, 0x46, 0)),
        e2e::ipv4_datagram(1, a.c_str(), b.c_str(), e2e::icmp_message(0, 0, 0)),
        e2e::ipv4_datagram(17, a.c_str(), b.c_str(), e2e::udp_datagram(40003, 5190, "end")),
    };
    send(datagrams);

    expect_file(monitor.out_path, e2e::console_until_listening(arguments) +
                                      e2e::rendered({datagrams[0], datagrams[1], datagrams[3],
                                                     datagrams[5], datagrams[7]},
                                                    {e2e::summary}));
}

// A datagram longer than the 2000-byte buffer is shown cut to 2000 bytes, and
// the monitor goes on with the next one.
TEST_F(CaptureTest, DatagramOver2000BytesShowsAs2000Bytes) {
    const std::string net = "127.77.8.";
    const std::vector<std::string> arguments{"-b", "-i", at(net, 0), "-w", "256", "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    std::string payload(2972, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) {
        payload[i] = static_cast<char>(i % 251);
    }
    const std::vector<Bytes> datagrams{
        e2e::ipv4_datagram(17, at(net, 1).c_str(), at(net, 2).c_str(),
                           e2e::udp_datagram(40000, 5190, payload)),
        sentinel(net)};
    ASSERT_EQ(datagrams[0].size(), 3000u);
    send(datagrams);

    expect_file(monitor.out_path, e2e::console_until_listening(arguments) +
                                      e2e::rendered(datagrams, {e2e::summary, e2e::hex_dump}));
    const std::string out = e2e::read_file(monitor.out_path);
    EXPECT_EQ(e2e::count_of(out, "-[2000bytes]->"), 1);
    EXPECT_EQ(e2e::count_of(out, "\n[1980]"), 1);
    EXPECT_EQ(e2e::count_of(out, "\n[2000]"), 0);
}

// The log is flushed after every datagram: a monitor killed outright leaves
// every account it received whole in the file.
TEST_F(CaptureTest, KilledMonitorLeavesEveryAccountInTheLog) {
    const std::string net = "127.77.9.";
    const std::vector<std::string> arguments{"-d",       "-b", "-f",  log_path,   "-i",
                                             at(net, 0), "-w", "256", "127.0.0.1"};
    ASSERT_NO_FATAL_FAILURE(start(arguments));
    std::vector<Bytes> datagrams = mixed_datagrams(net);
    const std::vector<Bytes> more = mixed_datagrams(net);
    datagrams.insert(datagrams.end(), more.begin(), more.end());
    send(datagrams);

    const MonitorOptions options = e2e::options_for(arguments);
    const std::string expected =
        e2e::printed([&](std::FILE* stream) { print_options(stream, options); }) +
        e2e::rendered(datagrams, {e2e::detail, e2e::hex_dump});
    ASSERT_TRUE(e2e::wait_for_size(log_path, expected.size())) << e2e::read_file(log_path);
    e2e::stop(monitor, SIGKILL);
    EXPECT_EQ(e2e::mask_times(e2e::read_file(log_path)), e2e::mask_times(expected));
}

}  // namespace

// The interface the monitor listens on goes down, comes back, and goes away
// for good, in a network namespace of the test's own: while it is down the
// monitor lives on without spending processor time on receives that fail;
// once it is deleted the monitor says so and ends with status 255.
#include <sched.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "e2e_support.hpp"
#include "support/command.hpp"

namespace {

constexpr const char* monitor_address = "192.0.2.1";  // TEST-NET-1, inside the namespace only
constexpr const char* peer_address = "192.0.2.2";

// Runs ip(8) with `arguments`: success, or a failure in ip's own words.
::testing::AssertionResult ip(const std::string& arguments) {
    const test_support::CommandResult result = test_support::run_command("ip " + arguments);
    if (result.succeeded) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "ip " << arguments << ": " << result.output;
}

// Processor time (user and system) the process has used, in seconds; -1 when
// it cannot be read.
double cpu_seconds(pid_t pid) {
    const std::string stat = e2e::read_file("/proc/" + std::to_string(pid) + "/stat");
    const std::size_t name_end = stat.rfind(')');
    if (name_end == std::string::npos) {
        return -1;
    }
    // After the name: state (field 3), ..., utime (14), stime (15).
    std::istringstream fields(stat.substr(name_end + 1));
    std::vector<std::string> field;
    for (std::string word; fields >> word;) {
        field.push_back(word);
    }
    if (field.size() < 13) {
        return -1;
    }
    return (std::stod(field[11]) + std::stod(field[12])) /
           static_cast<double>(sysconf(_SC_CLK_TCK));
}

class InterfaceGoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        E2E_SKIP_UNLESS_CAPTURE_WORKS();
        if (const ::testing::AssertionResult version = ip("-V"); !version) {
            GTEST_SKIP() << "ip (iproute2) is not installed: " << version.message();
        }
        netns = "pktwatch-fault-" + std::to_string(getpid());
        if (const ::testing::AssertionResult added = ip("netns add " + netns); !added) {
            netns.clear();
            GTEST_SKIP() << "cannot create a network namespace here: " << added.message();
        }
        // pktwatch0 holds the monitor's address; its peer pktwatch1 has none and
        // drops what it gets, so nothing answers. The first command run in the
        // namespace is where ip finds whether it can enter one here: in a
        // chroot whose root is not a mount point it cannot ("mount
        // --make-rslave /" fails), and neither could `ip netns exec`.
        if (const ::testing::AssertionResult veth =
                ip("-n " + netns + " link add pktwatch0 type veth peer name pktwatch1");
            !veth) {
            GTEST_SKIP() << "cannot make a veth pair in a network namespace here: "
                         << veth.message();
        }
        ASSERT_TRUE(ip("-n " + netns + " addr add " + monitor_address + "/24 dev pktwatch0"));
        ASSERT_TRUE(ip("-n " + netns + " link set pktwatch1 up"));
        ASSERT_TRUE(bring_up());
        dir = e2e::make_temp_dir();
    }

    void TearDown() override {
        e2e::stop(monitor);
        if (!netns.empty()) {
            EXPECT_TRUE(ip("netns del " + netns));
        }
        if (!dir.empty()) {
            std::filesystem::remove_all(dir);
        }
    }

    // Sets pktwatch0 up, with a fixed neighbour entry for the peer address so
    // that a datagram to it leaves at once, without address resolution.
    ::testing::AssertionResult bring_up() {
        ::testing::AssertionResult up = ip("-n " + netns + " link set pktwatch0 up");
        if (!up) {
            return up;
        }
        return ip("-n " + netns + " neigh replace " + peer_address +
                  " lladdr 02:00:00:00:00:02 nud permanent dev pktwatch0");
    }

    // Sends one UDP datagram from the monitor's address to the peer, from a
    // child process that enters the namespace (the test's own stays as it is).
    bool send_from_inside(std::uint16_t source_port) {
        const std::string namespace_path = "/var/run/netns/" + netns;
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_port = htons(source_port);
        from.sin_addr.s_addr = e2e::address(monitor_address);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(5190);
        to.sin_addr.s_addr = e2e::address(peer_address);
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0) {
            const int ns = open(namespace_path.c_str(), O_RDONLY | O_CLOEXEC);
            if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
                _exit(1);
            }
            const int udp = socket(AF_INET, SOCK_DGRAM, 0);
            if (udp < 0 || bind(udp, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0 ||
                sendto(udp, "still there?", 12, 0, reinterpret_cast<const sockaddr*>(&to),
                       sizeof to) != 12) {
                _exit(2);
            }
            _exit(0);
        }
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && e2e::exit_code(status) == 0;
    }

    // The monitor's summary line for the datagram from `source_port`.
    bool wait_for_account(std::uint16_t source_port) {
        return e2e::wait_for_text(monitor.out_path, std::string(monitor_address) + ":" +
                                                        std::to_string(source_port) + " -[");
    }

    // Over 1.5 s, the monitor stays alive and uses next to no processor time.
    void expect_idle_and_alive() {
        const double before = cpu_seconds(monitor.pid);
        std::this_thread::sleep_for(std::chrono::milliseconds(1500));
        const double after = cpu_seconds(monitor.pid);
        int status = 0;
        ASSERT_EQ(waitpid(monitor.pid, &status, WNOHANG), 0)
            << "the monitor ended, status " << status << "\n"
            << e2e::read_file(monitor.err_path);
        ASSERT_GE(before, 0);
        EXPECT_LT(after - before, 0.3) << "seconds of processor time in 1.5 s";
    }

    std::string netns;
    std::string dir;
    e2e::Monitor monitor;
};

TEST_F(InterfaceGoneTest, DownIsWatchedOnAndDeletedEndsTheMonitor) {
    monitor = e2e::start_process(dir, {"ip", "netns", "exec", netns, PKTWATCH_EXE, "-i",
                                       "192.0.2.0", "-w", "256", monitor_address});
    ASSERT_TRUE(e2e::wait_for_listening(monitor)) << e2e::read_file(monitor.err_path);
    // ip(8) runs the command in its own process: the process measured is the
    // monitor. Compared as files, by device and inode, not by path: the path
    // the link shows depends on the mount namespace it is read from (from a
    // chroot it can be the path outside it).
    const std::string exe = "/proc/" + std::to_string(monitor.pid) + "/exe";
    struct stat running {};
    struct stat built {};
    ASSERT_EQ(stat(exe.c_str(), &running), 0) << exe << ": " << std::strerror(errno);
    ASSERT_EQ(stat(PKTWATCH_EXE, &built), 0) << PKTWATCH_EXE << ": " << std::strerror(errno);
    std::error_code unread;
    ASSERT_TRUE(running.st_dev == built.st_dev && running.st_ino == built.st_ino)
        << exe << " is " << std::filesystem::read_symlink(exe, unread) << ", not " << PKTWATCH_EXE;
    ASSERT_TRUE(send_from_inside(40001));
    ASSERT_TRUE(wait_for_account(40001)) << e2e::read_file(monitor.out_path);

    // Down: the receive fails once (network down), then waits.
    ASSERT_TRUE(ip("-n " + netns + " link set pktwatch0 down"));
    ASSERT_NO_FATAL_FAILURE(expect_idle_and_alive());

    // Up again: monitoring goes on.
    ASSERT_TRUE(bring_up());
    ASSERT_TRUE(send_from_inside(40002));
    EXPECT_TRUE(wait_for_account(40002)) << e2e::read_file(monitor.out_path);

    // Gone for good: a socket bound to a deleted interface never receives
    // again, even from a new interface with the same address. The monitor
    // says so, gives its counts and ends.
    ASSERT_TRUE(ip("-n " + netns + " link del pktwatch0"));
    EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 255);
    EXPECT_EQ(e2e::read_file(monitor.err_path),
              "pktwatch: the interface pktwatch0 is gone\n" + e2e::stop_summary(2, 2, 0, 0));
}

}  // namespace

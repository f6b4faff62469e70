// The Linux backend on its own: dotted-quad conversion, the order of the
// local addresses, binding the capture socket, the reason for a failure, the
// local time and the console encoding. Tests that change the process (its
// network namespace, user, time zone) run in a child through EXPECT_EXIT.
#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/capture.hpp"
#include "platform/clock.hpp"
#include "platform/console.hpp"
#include "platform/host.hpp"
#include "platform/linux/capture_state.hpp"
#include "support/command.hpp"
#include "support/text.hpp"

namespace {

std::uint32_t dotted(const char* text) {
    in_addr address{};
    inet_pton(AF_INET, text, &address);
    return address.s_addr;
}

std::string dotted_text(std::uint32_t address) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr value{};
    value.s_addr = address;
    inet_ntop(AF_INET, &value, text, sizeof text);
    return text;
}

TEST(LinuxInetAddr, ReadsDottedQuadsAsInetAddrDoes) {
    const struct {
        const char* text;
        std::uint32_t expected;
    } cases[] = {
        {"127.0.0.1", dotted("127.0.0.1")},
        {"192.168.1.10", dotted("192.168.1.10")},
        {"0.0.0.0", 0},
        {"255.255.255.255", 0xFFFFFFFF},
        {"abc", 0xFFFFFFFF},
        {"", 0xFFFFFFFF},
        {"1.2.3.256", 0xFFFFFFFF},
        // The shortened and non-decimal forms inet_addr also reads.
        {"10.1", dotted("10.0.0.1")},
        {"1.2.3", dotted("1.2.0.3")},
        {"0x7f.1", dotted("127.0.0.1")},
        {"010.0.0.1", dotted("8.0.0.1")},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform_inet_addr(c.text), c.expected) << '"' << c.text << '"';
    }
}

// In a network namespace of its own: lo, an interface that is up with two
// addresses, one that is down. Prints the list platform_local_addresses gives.
void print_addresses_in_fresh_namespace() {
    if (unshare(CLONE_NEWNET) != 0 ||
        std::system("ip link set lo up && ip link add pw0 type veth peer name pw1 &&"
                    " ip addr add 10.9.8.7/24 dev pw0 && ip addr add 10.9.8.8/24 dev pw0 &&"
                    " ip addr add 10.9.9.9/24 dev pw1 && ip link set pw0 up") != 0) {
        std::fprintf(stderr, "set-up failed\n");
        std::_Exit(1);
    }
    LocalAddressList list{};
    const LocalAddressStatus status = platform_local_addresses(&list);
    std::fprintf(stderr, "status %d:", static_cast<int>(status));
    for (int i = 0; i < list.count; ++i) {
        std::fprintf(stderr, " %s", dotted_text(list.address[i]).c_str());
    }
    std::fprintf(stderr, ".\n");
    std::_Exit(0);
}

TEST(LinuxLocalAddresses, InterfacesThatAreUpInOrderWithLoopbackLast) {
    const std::string unavailable = test_support::network_namespace_unavailable_reason();
    if (!unavailable.empty()) {
        GTEST_SKIP() << unavailable;
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(print_addresses_in_fresh_namespace(), ::testing::ExitedWithCode(0),
                "status 0: 10\\.9\\.8\\.7 10\\.9\\.8\\.8 127\\.0\\.0\\.1\\.\n");
}

TEST(LinuxLocalAddresses, ThisHostListsLoopbackAfterEveryOtherAddress) {
    LocalAddressList list{};
    ASSERT_EQ(platform_local_addresses(&list), LocalAddressStatus::ok);
    bool seen_loopback = false;
    bool found_127_0_0_1 = false;
    for (int i = 0; i < list.count; ++i) {
        const bool loopback = (ntohl(list.address[i]) >> 24) == 127;
        EXPECT_FALSE(seen_loopback && !loopback) << dotted_text(list.address[i]) << " after lo";
        seen_loopback = seen_loopback || loopback;
        found_127_0_0_1 = found_127_0_0_1 || list.address[i] == dotted("127.0.0.1");
    }
    EXPECT_TRUE(found_127_0_0_1);
}

// Opening a capture on `address`: the step that failed, if one did, and the
// report; the capture is closed again.
CaptureOpen open_and_close(std::uint32_t address, CaptureReport* report,
                           void (*look)(const Capture&) = nullptr) {
    Capture* capture = nullptr;
    const CaptureOpen opened = platform_open_capture(address, CaptureFilter{}, &capture, report);
    if (opened == CaptureOpen::opened && look != nullptr) {
        look(*capture);
    }
    platform_close_capture(capture);
    return opened;
}

bool packet_sockets_permitted() {
    const int probe = socket(AF_PACKET, SOCK_DGRAM, 0);
    if (probe < 0) {
        return false;
    }
    close(probe);
    return true;
}

TEST(LinuxCapture, BindsToTheInterfaceHoldingTheAddress) {
    if (!packet_sockets_permitted()) {
        GTEST_SKIP() << "packet sockets are not permitted here";
    }
    CaptureReport report{};
    ASSERT_EQ(open_and_close(dotted("127.0.0.1"), &report,
                             [](const Capture& capture) {
                                 EXPECT_EQ(capture.interface_index,
                                           static_cast<int>(if_nametoindex("lo")));
                                 EXPECT_TRUE(capture.loopback);
                                 EXPECT_STREQ(platform_capture_interface(&capture), "lo");
                             }),
              CaptureOpen::opened)
        << report.reason;
}

TEST(LinuxCapture, AddressNoInterfaceHoldsIsNotBound) {
    if (!packet_sockets_permitted()) {
        GTEST_SKIP() << "packet sockets are not permitted here";
    }
    for (const char* address : {"0.0.0.0", "255.255.255.255", "198.51.100.77"}) {
        CaptureReport report{};
        EXPECT_EQ(open_and_close(dotted(address), &report), CaptureOpen::bind_failed) << address;
        EXPECT_STREQ(report.reason, std::strerror(EADDRNOTAVAIL)) << address;
        EXPECT_FALSE(report.permission_denied) << address;
    }
}

// Without the privilege the socket is refused, and the reason says so.
void open_capture_as_ordinary_user() {
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 65534) != 0 ||
                           setresuid(65534, 65534, 65534) != 0)) {
        std::_Exit(2);
    }
    CaptureReport report{};
    const CaptureOpen opened = open_and_close(dotted("127.0.0.1"), &report);
    if (opened != CaptureOpen::socket_failed) {
        std::fprintf(stderr, "step %d\n", static_cast<int>(opened));
        std::_Exit(1);
    }
    std::fprintf(stderr, "%s, permission %d\n", report.reason, report.permission_denied ? 1 : 0);
    std::_Exit(0);
}

TEST(LinuxCapturePermission, RefusalIsReportedAsLackOfPrivilege) {
    if (geteuid() != 0 && packet_sockets_permitted()) {
        GTEST_SKIP() << "this user may open packet sockets";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(open_capture_as_ordinary_user(), ::testing::ExitedWithCode(0),
                std::string(std::strerror(EPERM)) + ", permission 1\n");
}

// The time zone is read once, before the first conversion: with TZ at nine
// hours east of UTC the local hour is the UTC hour plus nine.
void compare_local_time_with_utc() {
    setenv("TZ", "JST-9", 1);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::time_t before = std::time(nullptr);
        const WallClock now = platform_wall_clock();
        const LocalTime local = platform_local_time(now);
        const std::time_t after = std::time(nullptr);
        if (before != after || now.seconds != before) {
            continue;  // a second turned over: the readings disagree
        }
        std::tm utc{};
        gmtime_r(&before, &utc);
        std::fprintf(stderr, "hour %d, minute %d, weekday ok %d, milliseconds ok %d\n",
                     (local.hour - utc.tm_hour + 24) % 24, local.minute - utc.tm_min,
                     local.weekday >= 0 && local.weekday <= 6 ? 1 : 0,
                     local.milliseconds == now.nanoseconds / 1000000 ? 1 : 0);
        std::_Exit(0);
    }
    std::_Exit(1);
}

TEST(LinuxTime, LocalTimeFollowsTheTimeZone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(compare_local_time_with_utc(), ::testing::ExitedWithCode(0),
                "hour 9, minute 0, weekday ok 1, milliseconds ok 1\n");
}

TEST(LinuxConsole, EncodingFollowsTheLocale) {
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    const char* saved_all = std::getenv("LC_ALL");
    const std::string saved_all_text = saved_all != nullptr ? saved_all : "";

    setenv("LC_ALL", "C", 1);
    EXPECT_EQ(platform_console_init(), ConsoleEncoding::shift_jis);
    setenv("LC_ALL", "C.UTF-8", 1);
    const ConsoleEncoding utf8 = platform_console_init();
    const bool have_utf8_locale = std::setlocale(LC_CTYPE, nullptr) != std::string("C");

    if (saved_all != nullptr) {
        setenv("LC_ALL", saved_all_text.c_str(), 1);
    } else {
        unsetenv("LC_ALL");
    }
    std::setlocale(LC_CTYPE, saved.c_str());
    if (have_utf8_locale) {
        EXPECT_EQ(utf8, ConsoleEncoding::utf8);
    }
}

// The other end of the pseudo-terminal `controller`, opened for writing (never
// as this process's controlling terminal); nullptr when it cannot be.
std::FILE* terminal_end(int controller) {
    const char* name = controller >= 0 ? ptsname(controller) : nullptr;
    const int end = name != nullptr ? open(name, O_WRONLY | O_NOCTTY) : -1;
    return end >= 0 ? fdopen(end, "w") : nullptr;
}

// A new pseudo-terminal's controlling end, or -1.
int new_terminal() {
    const int controller = posix_openpt(O_RDWR | O_NOCTTY);
    if (controller >= 0 && (grantpt(controller) != 0 || unlockpt(controller) != 0)) {
        close(controller);
        return -1;
    }
    return controller;
}

// Two streams are one terminal only when both are terminals and the same
// device: not two pseudo-terminals, nor a terminal and a file.
TEST(LinuxConsole, SameTerminalIsOneTerminalDevice) {
    const int first_controller = new_terminal();
    const int second_controller = new_terminal();
    if (first_controller < 0 || second_controller < 0) {
        GTEST_SKIP() << "no pseudo-terminal here: " << std::strerror(errno);
    }
    std::FILE* terminal = terminal_end(first_controller);
    std::FILE* again = terminal_end(first_controller);
    std::FILE* other_terminal = terminal_end(second_controller);
    std::FILE* file = test_support::temporary_stream();
    ASSERT_TRUE(terminal != nullptr && again != nullptr && other_terminal != nullptr &&
                file != nullptr);
    const struct {
        const char* name;
        std::FILE* first;
        std::FILE* second;
        bool same;
    } cases[] = {
        {"one terminal opened twice", terminal, again, true},
        {"two terminals", terminal, other_terminal, false},
        {"a terminal and a file", terminal, file, false},
        {"a file twice", file, file, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform_same_terminal(c.first, c.second), c.same) << c.name;
    }
    for (std::FILE* stream : {terminal, other_terminal, again, file}) {
        std::fclose(stream);
    }
    close(first_controller);
    close(second_controller);
}

// The room a pipe nobody reads is said to have is room a write of that many
// bytes finds at once. Pipes are made of page-sized slots and a write that
// does not fit the last slot's tail takes fresh ones, so after writes of
// 3000 bytes far fewer bytes fit than the pipe's size less its unread bytes.
TEST(LinuxStreamRoom, APipeTakesWhatItIsSaidToTake) {
    for (const int writes : {0, 1, 8, 15, 16}) {
        SCOPED_TRACE(writes);
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_NONBLOCK), 0);
        const std::string chunk(3000, 'x');
        for (int n = 0; n < writes; ++n) {
            ASSERT_EQ(write(ends[1], chunk.data(), chunk.size()), 3000);
        }
        std::FILE* stream = fdopen(ends[1], "w");
        ASSERT_NE(stream, nullptr);
        EXPECT_EQ(platform_stream_kind(stream), StreamKind::may_wait);
        const std::size_t room = platform_stream_room(stream);
        EXPECT_EQ(room == 0, writes == 16);
        if (room > 0) {
            const std::string more(room, 'y');
            EXPECT_EQ(write(ends[1], more.data(), more.size()), static_cast<ssize_t>(room));
        }
        std::fclose(stream);
        close(ends[0]);
    }
}

TEST(LinuxStreamRoom, FilesNeverWaitAndTheNullDeviceDiscards) {
    std::FILE* null_device = std::fopen("/dev/null", "w");
    ASSERT_NE(null_device, nullptr);
    EXPECT_EQ(platform_stream_kind(null_device), StreamKind::discards);
    std::fclose(null_device);
    std::FILE* file = test_support::temporary_stream();
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(platform_stream_kind(file), StreamKind::never_waits);
    EXPECT_EQ(platform_stream_room(file), stream_room_unlimited);
    std::fclose(file);
}

}  // namespace

// What the end-to-end tests share: running the real pktwatch as a child
// process with its output in files, sending crafted IPv4 datagrams on
// loopback, and building the text the monitor must print for them.
// Compiled once (e2e_support.cpp); the datagrams and texts themselves come
// from the shared test support.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "config/options.hpp"
#include "net/clock.hpp"
#include "net/packet.hpp"
#include "support/bytes.hpp"
#include "support/text.hpp"

namespace e2e {

using test_support::Bytes;
using test_support::icmp_message;
using test_support::ipv4_datagram;
using test_support::printed;
using test_support::put_be16;
using test_support::put_be32;
using test_support::read_file;
using test_support::received;
using test_support::start_banner;
using test_support::tcp_segment;
using test_support::udp_datagram;
using test_support::write_file;

// How long any wait for the monitor may take before the test gives up. Large
// enough for a sanitizer build on a busy machine; a passing test waits only
// as long as the monitor needs.
inline constexpr auto deadline = std::chrono::seconds(10);

// --- Preconditions -------------------------------------------------------------

// Empty when packet capture and raw sending are possible here, else why not.
std::string capture_unavailable_reason();

#define E2E_SKIP_UNLESS_CAPTURE_WORKS()                               \
    do {                                                              \
        const std::string reason = e2e::capture_unavailable_reason(); \
        if (!reason.empty()) {                                        \
            GTEST_SKIP() << reason;                                   \
        }                                                             \
    } while (false)

// --- Files ---------------------------------------------------------------------

// A private directory under /tmp, readable by every user (the unprivileged
// run executes a copy of the monitor from it).
std::string make_temp_dir();

// Polls `path` until it holds at least `size` bytes; false at the deadline.
bool wait_for_size(const std::string& path, std::size_t size);

// Polls `path` until it contains `needle` `times` times; false at the deadline.
bool wait_for_text(const std::string& path, const std::string& needle, int times = 1);

int count_of(const std::string& text, const std::string& needle);

// --- Terminals -----------------------------------------------------------------

// The controlling end of a new pseudo-terminal, close-on-exec (a child that
// held it would keep the terminal from hanging up), with the name of its
// other end in `device`; -1, with the reason in `why`, when there is none.
int open_terminal(std::string* device, std::string* why);

// Text as a terminal shows it: each line feed becomes carriage return and
// line feed.
std::string on_terminal(const std::string& text);

// Reads what the terminal shows into `shown` until it ends with `text`; false
// at the deadline or when the terminal has nothing more to show.
bool read_terminal_until(int terminal, const std::string& text, std::string& shown);

// --- The monitor process -------------------------------------------------------

struct Monitor {
    pid_t pid = -1;
    std::string out_path;
    std::string err_path;
};

// Starts `command` (the monitor, or a wrapper followed by it) with standard
// input from `stdin_path` and standard output and error into files of `dir`.
// The child runs in the C locale, so Japanese text comes as Shift-JIS bytes.
Monitor start_process(const std::string& dir, const std::vector<std::string>& command,
                      const std::string& stdin_path = "/dev/null");

Monitor start_monitor(const std::string& dir, const std::vector<std::string>& arguments,
                      const std::string& stdin_path = "/dev/null");

// Waits for the process to end by itself; its wait status, or -1 when it
// did not end before the deadline (it is then killed).
int wait_for_exit(Monitor& monitor);

// Stops the process with `signal` (SIGKILL when it does not end in time) and
// reaps it; its wait status, or -1 when it had already been reaped.
int stop(Monitor& monitor, int signal = SIGTERM);

// The line of counts a monitor that ends leaves on standard error.
std::string stop_summary(unsigned received, unsigned shown, unsigned filtered_out,
                         unsigned echoes_skipped);

// Exit code of a wait status; -1 when the process did not exit normally.
int exit_code(int status);

// Waits until the monitor is listening; false when it is not by the deadline.
bool wait_for_listening(const Monitor& monitor);

// --- Datagrams -----------------------------------------------------------------

std::uint32_t address(const char* dotted);

// Sends each datagram, header included, to its destination on loopback.
void send_datagrams(const std::vector<Bytes>& datagrams);

// Sockets that keep the host from answering the test's datagrams with ICMP
// errors (port or protocol unreachable), which would join the capture: a UDP
// socket bound to each destination address and port, a raw socket for each
// protocol other than ICMP, TCP and UDP. TCP segments carry RST and the ICMP
// messages are of types the host never answers. The sockets never read.
void hold_destinations(std::vector<int>& holds, const std::vector<Bytes>& datagrams);

void release_holds(std::vector<int>& holds);

// --- Expected text -------------------------------------------------------------

// The views, each given the clock reading it may show.
using Renderer = void (*)(std::FILE*, PacketBytes, int, const LocalTime&);

void summary(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time);
void detail(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time);
void hex_dump(std::FILE* stream, PacketBytes packet, int length, const LocalTime&);
void console_echo(std::FILE* stream, PacketBytes packet, int length, const LocalTime&);

// What `renderers` print for each datagram in turn, at `time`.
std::string rendered(const std::vector<Bytes>& datagrams, const std::vector<Renderer>& renderers,
                     const LocalTime& time = {});

// Time stamps vary from run to run: the summary line's time of day and the
// detail view's date keep their width but lose their digits.
std::string mask_times(const std::string& text);

// The local addresses as the monitor finds them.
LocalAddresses local_addresses();

// The options the monitor builds from `arguments`, and what it prints while
// doing so.
MonitorOptions options_for(const std::vector<std::string>& arguments,
                           std::string* console = nullptr);

// Everything the console shows up to the start of monitoring.
std::string console_until_listening(const std::vector<std::string>& arguments);

// A message of the program as the monitor writes it in the C locale.
std::string console_message(const char* utf8);

}  // namespace e2e

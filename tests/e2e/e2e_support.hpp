// What the end-to-end tests share: running the real pktwatch as a child
// process with its output in files, crafting IPv4 datagrams and sending them
// on loopback, and building the text the monitor must print for them.
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

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/options.hpp"
#include "console/console_text.hpp"
#include "net/packet.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"

namespace e2e {

using Bytes = std::vector<std::uint8_t>;

// How long any wait for the monitor may take before the test gives up. Large
// enough for a sanitizer build on a busy machine; a passing test waits only
// as long as the monitor needs.
inline constexpr auto deadline = std::chrono::seconds(10);

// --- Preconditions -------------------------------------------------------------

// Empty when packet capture and raw sending are possible here, else why not.
inline std::string capture_unavailable_reason() {
    if (geteuid() != 0) {
        return "not running as root: the monitor needs a packet socket";
    }
    const int packet_socket = socket(AF_PACKET, SOCK_DGRAM, 0);
    if (packet_socket < 0) {
        return std::string("packet sockets are not permitted here: ") + std::strerror(errno);
    }
    close(packet_socket);
    const int raw_socket = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (raw_socket < 0) {
        return std::string("raw IPv4 sockets are not permitted here: ") + std::strerror(errno);
    }
    close(raw_socket);
    return {};
}

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
inline std::string make_temp_dir() {
    char name[] = "/tmp/pktwatch-e2e-XXXXXX";
    if (mkdtemp(name) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return "/tmp";
    }
    chmod(name, 0755);
    return name;
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void write_file(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// Polls `path` until it holds at least `size` bytes; false at the deadline.
inline bool wait_for_size(const std::string& path, std::size_t size) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        struct stat info {};
        if (stat(path.c_str(), &info) == 0 && static_cast<std::size_t>(info.st_size) >= size) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Polls `path` until it contains `needle` `times` times; false at the deadline.
inline bool wait_for_text(const std::string& path, const std::string& needle, int times = 1) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (std::chrono::steady_clock::now() < end) {
        const std::string text = read_file(path);
        int found = 0;
        for (std::size_t at = text.find(needle); at != std::string::npos;
             at = text.find(needle, at + needle.size())) {
            ++found;
        }
        if (found >= times) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

inline int count_of(const std::string& text, const std::string& needle) {
    int found = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
        ++found;
    }
    return found;
}

// --- The monitor process -------------------------------------------------------

struct Monitor {
    pid_t pid = -1;
    std::string out_path;
    std::string err_path;
};

// Starts `command` (the monitor, or a wrapper followed by it) with standard
// input from `stdin_path` and standard output and error into files of `dir`.
// The child runs in the C locale, so Japanese text comes as Shift-JIS bytes.
inline Monitor start_process(const std::string& dir, const std::vector<std::string>& command,
                             const std::string& stdin_path = "/dev/null") {
    Monitor monitor;
    monitor.out_path = dir + "/stdout.txt";
    monitor.err_path = dir + "/stderr.txt";

    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    std::vector<std::string> environment_text;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        if (std::strncmp(*entry, "LC_", 3) != 0 && std::strncmp(*entry, "LANG=", 5) != 0) {
            environment_text.emplace_back(*entry);
        }
    }
    environment_text.emplace_back("LC_ALL=C");
    std::vector<char*> environment;
    for (std::string& entry : environment_text) {
        environment.push_back(entry.data());
    }
    environment.push_back(nullptr);

    std::fflush(nullptr);
    monitor.pid = fork();
    if (monitor.pid == 0) {
        const int in = open(stdin_path.c_str(), O_RDONLY);
        const int out = open(monitor.out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err = open(monitor.err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0) {
            _exit(126);
        }
        execvpe(argv[0], argv.data(), environment.data());
        _exit(127);
    }
    EXPECT_GT(monitor.pid, 0) << "fork: " << std::strerror(errno);
    return monitor;
}

inline Monitor start_monitor(const std::string& dir, const std::vector<std::string>& arguments,
                             const std::string& stdin_path = "/dev/null") {
    std::vector<std::string> command{PKTWATCH_EXE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return start_process(dir, command, stdin_path);
}

// Waits for the process to end by itself; its wait status, or -1 when it
// did not end before the deadline (it is then killed).
inline int wait_for_exit(Monitor& monitor) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (monitor.pid > 0) {
        const pid_t done = waitpid(monitor.pid, &status, WNOHANG);
        if (done == monitor.pid) {
            monitor.pid = -1;
            return status;
        }
        if (done < 0 || std::chrono::steady_clock::now() >= end) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (monitor.pid > 0) {
        kill(monitor.pid, SIGKILL);
        waitpid(monitor.pid, &status, 0);
        monitor.pid = -1;
    }
    return -1;
}

// Stops the process with `signal` (SIGKILL when it does not end in time) and
// reaps it; its wait status, or -1 when it had already been reaped.
inline int stop(Monitor& monitor, int signal = SIGTERM) {
    if (monitor.pid <= 0) {
        return -1;
    }
    kill(monitor.pid, signal);
    const auto end = std::chrono::steady_clock::now() + deadline;
    int status = 0;
    while (waitpid(monitor.pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() >= end) {
            kill(monitor.pid, SIGKILL);
            waitpid(monitor.pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    monitor.pid = -1;
    return status;
}

// The line a monitor stopped by a signal leaves on standard error.
inline std::string stop_summary(unsigned received, unsigned shown, unsigned filtered_out,
                                unsigned echoes_skipped) {
    return "pktwatch: " + std::to_string(received) + " datagrams received, " +
           std::to_string(shown) + " shown, " + std::to_string(filtered_out) +
           " left out by the filter, 0 dropped by the kernel, " + std::to_string(echoes_skipped) +
           " console echoes skipped\n";
}

// Exit code of a wait status; -1 when the process did not exit normally.
inline int exit_code(int status) {
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits until the monitor is listening; false when it is not by the deadline.
inline bool wait_for_listening(const Monitor& monitor) {
    return wait_for_text(monitor.out_path, "Listen start...\n\n");
}

// --- Datagrams -----------------------------------------------------------------

inline std::uint32_t address(const char* dotted) {
    return inet_addr(dotted);
}

inline void put_be16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes[at] = static_cast<std::uint8_t>(value >> 8);
    bytes[at + 1] = static_cast<std::uint8_t>(value);
}

inline void put_be32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    put_be16(bytes, at, static_cast<std::uint16_t>(value >> 16));
    put_be16(bytes, at + 2, static_cast<std::uint16_t>(value));
}

// An IPv4 datagram with a 20-byte header, filled in as the kernel leaves it
// when it sends a header-included datagram (total length and checksum set),
// so that the bytes captured are exactly these.
inline Bytes ipv4_datagram(std::uint8_t protocol, const char* source, const char* destination,
                           const Bytes& payload, std::uint16_t identification = 0x1234,
                           std::uint8_t time_to_live = 64) {
    Bytes bytes(20);
    bytes[0] = 0x45;
    bytes[1] = 0x10;
    put_be16(bytes, 2, static_cast<std::uint16_t>(20 + payload.size()));
    put_be16(bytes, 4, identification);
    put_be16(bytes, 6, 0x4000);
    bytes[8] = time_to_live;
    bytes[9] = protocol;
    const std::uint32_t from = address(source);
    const std::uint32_t to = address(destination);
    std::memcpy(&bytes[12], &from, 4);
    std::memcpy(&bytes[16], &to, 4);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < 20; i += 2) {
        sum += static_cast<std::uint32_t>(bytes[i] << 8 | bytes[i + 1]);
    }
    while (sum > 0xFFFF) {
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    put_be16(bytes, 10, static_cast<std::uint16_t>(~sum));
    bytes.insert(bytes.end(), payload.begin(), payload.end());
    return bytes;
}

// A TCP header (RFC 793) without options, then `data`. Tests send segments
// with RST set: the host never answers a reset, so no reply joins the capture.
inline Bytes tcp_segment(std::uint16_t source_port, std::uint16_t destination_port,
                         std::uint32_t sequence, std::uint32_t acknowledgement, std::uint8_t flags,
                         const std::string& data = {}) {
    Bytes bytes(20);
    put_be16(bytes, 0, source_port);
    put_be16(bytes, 2, destination_port);
    put_be32(bytes, 4, sequence);
    put_be32(bytes, 8, acknowledgement);
    bytes[12] = 0x50;
    bytes[13] = flags;
    put_be16(bytes, 14, 8192);
    put_be16(bytes, 16, 0xBEEF);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// A UDP header (RFC 768) and `data`.
inline Bytes udp_datagram(std::uint16_t source_port, std::uint16_t destination_port,
                          const std::string& data) {
    Bytes bytes(8);
    put_be16(bytes, 0, source_port);
    put_be16(bytes, 2, destination_port);
    put_be16(bytes, 4, static_cast<std::uint16_t>(8 + data.size()));
    put_be16(bytes, 6, 0xC0DE);
    bytes.insert(bytes.end(), data.begin(), data.end());
    return bytes;
}

// An ICMP message (RFC 792): type, code, checksum, four more header bytes.
inline Bytes icmp_message(std::uint8_t type, std::uint8_t code, std::uint32_t rest) {
    Bytes bytes(8);
    bytes[0] = type;
    bytes[1] = code;
    put_be16(bytes, 2, 0x1234);
    put_be32(bytes, 4, rest);
    return bytes;
}

// Sends each datagram, header included, to its destination on loopback.
inline void send_datagrams(const std::vector<Bytes>& datagrams) {
    const int raw = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    ASSERT_GE(raw, 0) << "raw socket: " << std::strerror(errno);
    for (const Bytes& datagram : datagrams) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        std::memcpy(&to.sin_addr.s_addr, &datagram[16], 4);
        ASSERT_EQ(static_cast<std::uint32_t>(ntohl(to.sin_addr.s_addr)) >> 24, 127u)
            << "tests send only on loopback";
        const ssize_t sent = sendto(raw, datagram.data(), datagram.size(), 0,
                                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
        EXPECT_EQ(sent, static_cast<ssize_t>(datagram.size())) << std::strerror(errno);
    }
    close(raw);
}

// Sockets that keep the host from answering the test's datagrams with ICMP
// errors (port or protocol unreachable), which would join the capture: a UDP
// socket bound to each destination address and port, a raw socket for each
// protocol other than ICMP, TCP and UDP. TCP segments carry RST and the ICMP
// messages are of types the host never answers. The sockets never read.
inline void hold_destinations(std::vector<int>& holds, const std::vector<Bytes>& datagrams) {
    std::vector<std::pair<std::uint32_t, std::uint16_t>> held_ports;
    std::vector<std::uint8_t> held_protocols;
    for (const Bytes& datagram : datagrams) {
        const std::uint8_t protocol = datagram[9];
        if (protocol == IPPROTO_UDP) {
            sockaddr_in at{};
            at.sin_family = AF_INET;
            std::memcpy(&at.sin_addr.s_addr, &datagram[16], 4);
            std::memcpy(&at.sin_port, &datagram[22], 2);
            const auto key = std::make_pair(at.sin_addr.s_addr, at.sin_port);
            if (std::find(held_ports.begin(), held_ports.end(), key) != held_ports.end()) {
                continue;
            }
            held_ports.push_back(key);
            const int fd = socket(AF_INET, SOCK_DGRAM, 0);
            EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at), 0)
                << "holding a UDP port: " << std::strerror(errno);
            holds.push_back(fd);
        } else if (protocol != IPPROTO_TCP && protocol != IPPROTO_ICMP &&
                   std::find(held_protocols.begin(), held_protocols.end(), protocol) ==
                       held_protocols.end()) {
            held_protocols.push_back(protocol);
            const int fd = socket(AF_INET, SOCK_RAW, protocol);
            EXPECT_GE(fd, 0) << "holding protocol " << int{protocol} << ": "
                             << std::strerror(errno);
            holds.push_back(fd);
        }
    }
}

inline void release_holds(std::vector<int>& holds) {
    for (const int fd : holds) {
        close(fd);
    }
    holds.clear();
}

// --- Expected text -------------------------------------------------------------

// Collects what a printing function writes to a stream.
template <typename Print>
std::string printed(Print print) {
    char* text = nullptr;
    std::size_t size = 0;
    std::FILE* stream = open_memstream(&text, &size);
    print(stream);
    std::fclose(stream);
    std::string result(text, size);
    std::free(text);
    return result;
}

// The datagram as the monitor receives it: zeroed buffer, at most 2000 bytes.
inline PacketBuffer received(const Bytes& datagram) {
    PacketBuffer packet{};
    packet.length = static_cast<int>(std::min<std::size_t>(datagram.size(), packet_buffer_size));
    std::memcpy(packet.bytes, datagram.data(), static_cast<std::size_t>(packet.length));
    return packet;
}

// The views, each given the clock reading it may show.
using Renderer = void (*)(std::FILE*, PacketBytes, int, const LocalTime&);

inline void summary(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time) {
    print_summary(stream, packet, length, time);
}
inline void detail(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time) {
    print_detail(stream, packet, length, time);
}
inline void hex_dump(std::FILE* stream, PacketBytes packet, int length, const LocalTime&) {
    print_hex_dump(stream, packet, length);
}
inline void console_echo(std::FILE* stream, PacketBytes packet, int length, const LocalTime&) {
    print_console_echo(stream, packet, length);
}

// What `renderers` print for each datagram in turn, at `time`.
inline std::string rendered(const std::vector<Bytes>& datagrams,
                            const std::vector<Renderer>& renderers, const LocalTime& time = {}) {
    return printed([&](std::FILE* stream) {
        for (const Bytes& datagram : datagrams) {
            const PacketBuffer packet = received(datagram);
            for (const Renderer render : renderers) {
                render(stream, packet.bytes, packet.length, time);
            }
        }
    });
}

// Time stamps vary from run to run: the summary line's time of day and the
// detail view's date keep their width but lose their digits.
inline std::string mask_times(const std::string& text) {
    static const std::regex time_of_day(R"(\b\d\d:\d\d:\d\d\.\d\d\d\d )");
    static const std::regex date(R"(\[[A-Z][a-z][a-z] [A-Z][a-z][a-z] \d\d \d\d:\d\d:\d\d\])");
    const std::string masked = std::regex_replace(text, time_of_day, "hh:mm:ss.mmmm ");
    return std::regex_replace(masked, date, "[Www Mmm dd hh:mm:ss]");
}

// The command line as the monitor sees it, program name first.
inline std::vector<const char*> argument_vector(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{PKTWATCH_EXE};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return argv;
}

// The local addresses as the monitor finds them.
inline LocalAddresses local_addresses() {
    LocalAddresses found{};
    found.status = platform_local_addresses(&found.list);
    return found;
}

// The options the monitor builds from `arguments`, and what it prints while
// doing so.
inline MonitorOptions options_for(const std::vector<std::string>& arguments,
                                  std::string* console = nullptr) {
    MonitorOptions options{};
    const std::vector<const char*> argv = argument_vector(arguments);
    const std::string text = printed([&](std::FILE* stream) {
        const Console out{stream, ConsoleEncoding::shift_jis};
        options.listen_address = default_local_address(local_addresses(), out);
        parse_command_line(options, static_cast<int>(argv.size()), argv.data(), out);
    });
    if (console != nullptr) {
        *console = text;
    }
    return options;
}

// The usage text and the two sockets-layer lines every start begins with.
inline std::string start_banner() {
    return printed([](std::FILE* stream) {
        print_usage(stream);
        SocketsLayerInfo info{};
        platform_startup(0x0202, &info);
        std::fprintf(stream, "Description\t:%s\r\n", info.description);
        std::fprintf(stream, "Systemstatus\t:%s\r\n", info.system_status);
    });
}

// Everything the console shows up to the start of monitoring.
inline std::string console_until_listening(const std::vector<std::string>& arguments) {
    std::string set_up;
    options_for(arguments, &set_up);
    return start_banner() + set_up + "Listen start...\n\n";
}

// A message of the program as the monitor writes it in the C locale.
inline std::string console_message(const char* utf8) {
    return printed([&](std::FILE* stream) {
        console_text(Console{stream, ConsoleEncoding::shift_jis}, utf8);
    });
}

}  // namespace e2e

// What the end-to-end tests share, compiled once.
#include "e2e_support.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <regex>
#include <sstream>
#include <utility>

#include "console/console_text.hpp"
#include "platform/host.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"

namespace e2e {

namespace {

// The command line as the monitor sees it, program name first.
std::vector<const char*> argument_vector(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{PKTWATCH_EXE};
    for (const std::string& argument : arguments) {
        argv.push_back(argument.c_str());
    }
    return argv;
}

}  // namespace

std::string capture_unavailable_reason() {
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

std::string make_temp_dir() {
    char name[] = "/tmp/pktwatch-e2e-XXXXXX";
    if (mkdtemp(name) == nullptr) {
        ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
        return "/tmp";
    }
    chmod(name, 0755);
    return name;
}

bool wait_for_size(const std::string& path, std::size_t size) {
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
bool wait_for_text(const std::string& path, const std::string& needle, int times) {
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

int count_of(const std::string& text, const std::string& needle) {
    int found = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size())) {
        ++found;
    }
    return found;
}

int open_terminal(std::string* device, std::string* why) {
    const int terminal = posix_openpt(O_RDWR | O_NOCTTY);
    if (terminal < 0 || fcntl(terminal, F_SETFD, FD_CLOEXEC) != 0 || grantpt(terminal) != 0 ||
        unlockpt(terminal) != 0 || ptsname(terminal) == nullptr) {
        *why = std::string("no pseudo-terminal here: ") + std::strerror(errno);
        if (terminal >= 0) {
            close(terminal);
        }
        return -1;
    }
    *device = ptsname(terminal);
    return terminal;
}

std::string on_terminal(const std::string& text) {
    std::string shown;
    for (const char c : text) {
        shown += c == '\n' ? "\r\n" : std::string(1, c);
    }
    return shown;
}

bool read_terminal_until(int terminal, const std::string& text, std::string& shown) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (shown.size() < text.size() ||
           shown.compare(shown.size() - text.size(), text.size(), text) != 0) {
        if (std::chrono::steady_clock::now() >= end) {
            return false;
        }
        pollfd ready{terminal, POLLIN, 0};
        if (poll(&ready, 1, 50) == 1) {
            char buffer[4096];
            const ssize_t count = read(terminal, buffer, sizeof buffer);
            if (count <= 0) {
                return false;
            }
            shown.append(buffer, static_cast<std::size_t>(count));
        }
    }
    return true;
}

Monitor start_process(const std::string& dir, const std::vector<std::string>& command,
                      const std::string& stdin_path) {
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

Monitor start_monitor(const std::string& dir, const std::vector<std::string>& arguments,
                      const std::string& stdin_path) {
    std::vector<std::string> command{PKTWATCH_EXE};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return start_process(dir, command, stdin_path);
}

// Waits for the process to end by itself; its wait status, or -1 when it
// did not end before the deadline (it is then killed).
int wait_for_exit(Monitor& monitor) {
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
int stop(Monitor& monitor, int signal) {
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

std::string stop_summary(unsigned received, unsigned shown, unsigned filtered_out,
                         unsigned echoes_skipped) {
    return "pktwatch: " + std::to_string(received) + " datagrams received, " +
           std::to_string(shown) + " shown, " + std::to_string(filtered_out) +
           " left out by the filter, 0 dropped by the kernel, " + std::to_string(echoes_skipped) +
           " console echoes skipped\n";
}

// Exit code of a wait status; -1 when the process did not exit normally.
int exit_code(int status) {
    return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Waits until the monitor is listening; false when it is not by the deadline.
bool wait_for_listening(const Monitor& monitor) {
    return wait_for_text(monitor.out_path, "Listen start...\n\n");
}

std::uint32_t address(const char* dotted) {
    return test_support::dotted(dotted);
}

// Sends each datagram, header included, to its destination on loopback.
void send_datagrams(const std::vector<Bytes>& datagrams) {
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
void hold_destinations(std::vector<int>& holds, const std::vector<Bytes>& datagrams) {
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

void release_holds(std::vector<int>& holds) {
    for (const int fd : holds) {
        close(fd);
    }
    holds.clear();
}

void summary(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time) {
    print_summary(stream, packet, length, time);
}
void detail(std::FILE* stream, PacketBytes packet, int length, const LocalTime& time) {
    print_detail(stream, packet, length, time);
}
void hex_dump(std::FILE* stream, PacketBytes packet, int length, const LocalTime&) {
    print_hex_dump(stream, packet, length);
}
void console_echo(std::FILE* stream, PacketBytes packet, int length, const LocalTime&) {
    print_console_echo(stream, packet, length);
}

// What `renderers` print for each datagram in turn, at `time`.
std::string rendered(const std::vector<Bytes>& datagrams, const std::vector<Renderer>& renderers,
                     const LocalTime& time) {
    return printed([&](std::FILE* stream) {
        for (const Bytes& datagram : datagrams) {
            const PacketBuffer packet = received(datagram);
            for (const Renderer render : renderers) {
                render(stream, packet.bytes, packet.length, time);
            }
        }
    });
}

std::string mask_times(const std::string& text) {
    static const std::regex time_of_day(R"(\b\d\d:\d\d:\d\d\.\d\d\d\d )");
    static const std::regex date(R"(\[[A-Z][a-z][a-z] [A-Z][a-z][a-z] \d\d \d\d:\d\d:\d\d\])");
    const std::string masked = std::regex_replace(text, time_of_day, "hh:mm:ss.mmmm ");
    return std::regex_replace(masked, date, "[Www Mmm dd hh:mm:ss]");
}

// The local addresses as the monitor finds them.
LocalAddresses local_addresses() {
    LocalAddresses found{};
    found.status = platform_local_addresses(&found.list);
    return found;
}

// The options the monitor builds from `arguments`, and what it prints while
// doing so.
MonitorOptions options_for(const std::vector<std::string>& arguments, std::string* console) {
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

// Everything the console shows up to the start of monitoring.
std::string console_until_listening(const std::vector<std::string>& arguments) {
    std::string set_up;
    options_for(arguments, &set_up);
    return start_banner() + set_up + "Listen start...\n\n";
}

// A message of the program as the monitor writes it in the C locale.
std::string console_message(const char* utf8) {
    return printed([&](std::FILE* stream) {
        console_text(Console{stream, ConsoleEncoding::shift_jis}, utf8);
    });
}

}  // namespace e2e

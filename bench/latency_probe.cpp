// Latency of an account on an idle interface: sends COUNT small UDP datagrams
// to a loopback address and port, one at a time, GAP milliseconds apart, and
// for each one measures how long the capturer's output file takes to grow
// after the send. It watches only the file's size, so any capturer that writes
// a file per datagram can be measured (the monitor's log, a packet-buffered
// pcap file, line-buffered text). A datagram whose file growth does not come
// within 1 s is counted as lost. Only 127.0.0.0/8 is accepted; the whole run
// stops after COUNT datagrams or SECONDS seconds, whichever comes first.
//
//   latency_probe FILE ADDRESS PORT [COUNT [GAP_MS [SECONDS]]]
//
// COUNT defaults to 300, GAP_MS to 5, SECONDS to 60. Prints
// "sent=N lost=L median_us=M p99_us=P worst_us=W" on standard output (the
// three figures over the datagrams not lost; "-" when all were lost).
//
// A growth that comes after its datagram was given up on is laid to the next
// datagram's account (the size is taken again just before each send), so a
// run with losses overstates the latency of the datagram after each loss.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_arguments.hpp"

namespace {

constexpr unsigned long max_count = 100'000;
constexpr unsigned long default_count = 300;
constexpr unsigned long default_gap_ms = 5;
constexpr unsigned long default_seconds = 60;
constexpr long give_up_ns = 1'000'000'000;  // a datagram is lost after 1 s
constexpr long appear_ns = 5'000'000'000;   // how long FILE may take to appear
constexpr std::size_t payload_size = 32;    // 60-byte datagrams, as udp_sender's

std::int64_t now_ns() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

int usage() {
    std::fprintf(stderr,
                 "usage: latency_probe FILE ADDRESS PORT [COUNT [GAP_MS [SECONDS]]]\n"
                 "  FILE the capturer's output; ADDRESS in 127.0.0.0/8; PORT 1-65535;\n"
                 "  COUNT 1-%lu (default %lu); GAP_MS 0-1000 between datagrams (default\n"
                 "  %lu); SECONDS a hard time limit (default %lu)\n",
                 max_count, default_count, default_gap_ms, default_seconds);
    return 2;
}

// The file's size, or -1 when it cannot be read.
long long file_size(int file) {
    struct stat status {};
    if (fstat(file, &status) != 0) {
        return -1;
    }
    return static_cast<long long>(status.st_size);
}

// Reads away every queued inotify event (the descriptor is non-blocking).
void drain(int descriptor) {
    alignas(inotify_event) char events[4096];
    while (read(descriptor, events, sizeof events) > 0) {
    }
}

// Waits until FILE is larger than SIZE or DEADLINE (monotonic ns) passes.
bool wait_for_growth(int file, int watch, long long size, std::int64_t deadline) {
    pollfd ready{};
    ready.fd = watch;
    ready.events = POLLIN;
    while (file_size(file) <= size) {
        const std::int64_t left = deadline - now_ns();
        if (left <= 0) {
            return false;
        }
        // Rounded up, so that the last wait does not spin at 0 ms.
        const int wait_ms = static_cast<int>((left + 999'999) / 1'000'000);
        if (poll(&ready, 1, wait_ms) > 0) {
            drain(watch);
        }
    }
    return true;
}

// Sorted latencies (ns): the value at fraction Q by nearest rank.
std::int64_t rank(const std::int64_t* sorted, unsigned long count, double q) {
    unsigned long index = static_cast<unsigned long>(q * static_cast<double>(count) + 0.999999);
    index = index == 0 ? 0 : index - 1;
    return sorted[index < count ? index : count - 1];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4 || argc > 7) {
        return usage();
    }
    in_addr destination_address{};
    switch (read_loopback_address("latency_probe", argv[2], &destination_address)) {
        case LoopbackAddress::ok:
            break;
        case LoopbackAddress::unreadable:
            return usage();
        case LoopbackAddress::not_loopback:
            return 2;
    }
    unsigned long port = 0;
    unsigned long count = default_count;
    unsigned long gap_ms = default_gap_ms;
    unsigned long seconds_limit = default_seconds;
    if (!read_number(argv[3], 65535, &port) || port == 0 ||
        (argc >= 5 && (!read_number(argv[4], max_count, &count) || count == 0)) ||
        (argc >= 6 && !read_number(argv[5], 1000, &gap_ms)) ||
        (argc >= 7 && (!read_number(argv[6], 3600, &seconds_limit) || seconds_limit == 0))) {
        return usage();
    }

    // The capturer may create its file a little after it starts.
    int file = -1;
    const std::int64_t appear_deadline = now_ns() + appear_ns;
    while ((file = open(argv[1], O_RDONLY | O_CLOEXEC)) < 0 && errno == ENOENT &&
           now_ns() < appear_deadline) {
        usleep(10'000);
    }
    if (file < 0) {
        std::fprintf(stderr, "latency_probe: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, argv[1], IN_MODIFY) < 0) {
        std::fprintf(stderr, "latency_probe: cannot watch %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(static_cast<std::uint16_t>(port));
    destination.sin_addr = destination_address;
    // The holder keeps the port open (no ICMP port-unreachable comes back) and
    // is emptied after each measure, so its queue never fills.
    const int holder = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    if (holder < 0 ||
        bind(holder, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) != 0) {
        std::fprintf(stderr, "latency_probe: cannot hold %s:%lu: %s\n", argv[2], port,
                     std::strerror(errno));
        return 1;
    }
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    if (sender < 0 ||
        connect(sender, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) != 0) {
        std::fprintf(stderr, "latency_probe: cannot connect: %s\n", std::strerror(errno));
        return 1;
    }

    static std::int64_t latencies[max_count];
    char data[payload_size];
    std::memset(data, 'x', sizeof data);
    const std::int64_t run_deadline =
        now_ns() + static_cast<std::int64_t>(seconds_limit) * 1'000'000'000;
    const timespec gap{static_cast<time_t>(gap_ms / 1000),
                       static_cast<long>(gap_ms % 1000) * 1'000'000};
    unsigned long sent = 0;
    unsigned long measured = 0;
    while (sent < count && now_ns() < run_deadline) {
        drain(watch);
        const long long size = file_size(file);
        if (size < 0) {
            std::fprintf(stderr, "latency_probe: %s: %s\n", argv[1], std::strerror(errno));
            break;
        }
        const std::int64_t start = now_ns();
        if (send(sender, data, sizeof data, 0) < 0) {
            std::fprintf(stderr, "latency_probe: send: %s\n", std::strerror(errno));
            break;
        }
        ++sent;
        const bool grown = wait_for_growth(file, watch, size, start + give_up_ns);
        const std::int64_t end = now_ns();
        if (grown) {
            latencies[measured++] = end - start;
        }
        char discard[payload_size];
        while (recv(holder, discard, sizeof discard, 0) >= 0) {
        }
        if (gap_ms != 0) {
            nanosleep(&gap, nullptr);
        }
    }

    std::printf("sent=%lu lost=%lu ", sent, sent - measured);
    if (measured == 0) {
        std::printf("median_us=- p99_us=- worst_us=-\n");
    } else {
        std::sort(latencies, latencies + measured);
        const std::int64_t median = (latencies[(measured - 1) / 2] + latencies[measured / 2]) / 2;
        std::printf("median_us=%.1f p99_us=%.1f worst_us=%.1f\n",
                    static_cast<double>(median) / 1000.0,
                    static_cast<double>(rank(latencies, measured, 0.99)) / 1000.0,
                    static_cast<double>(latencies[measured - 1]) / 1000.0);
    }
    close(sender);
    close(holder);
    close(watch);
    close(file);
    return sent == count ? 0 : 1;
}

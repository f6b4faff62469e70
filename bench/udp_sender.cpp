// A bounded UDP sender for the capture-loss benchmark: sends COUNT datagrams
// of PAYLOAD bytes to a loopback address and port, paced at RATE datagrams a
// second (0: as fast as it can), and stops after COUNT datagrams or SECONDS
// seconds, whichever comes first. Only 127.0.0.0/8 is accepted. A second
// socket holds the destination port open and never reads, so the datagrams
// draw no ICMP port-unreachable replies.
//
//   udp_sender ADDRESS PORT COUNT RATE [PAYLOAD [SECONDS]]
//
// Prints "sent=N seconds=S rate=R" (R datagrams a second) on standard output.
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench_arguments.hpp"

namespace {

constexpr unsigned batch_size = 32;  // datagrams per sendmmsg
constexpr unsigned long max_count = 100'000'000;
constexpr double default_seconds = 60.0;  // a hard stop whatever the count
constexpr unsigned long max_payload = 1472;

double now_seconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

int usage() {
    std::fprintf(stderr,
                 "usage: udp_sender ADDRESS PORT COUNT RATE [PAYLOAD [SECONDS]]\n"
                 "  ADDRESS in 127.0.0.0/8; PORT 1-65535; COUNT 1-%lu; RATE datagrams a\n"
                 "  second, 0 for as fast as possible; PAYLOAD 0-%lu bytes (32: 60-byte\n"
                 "  datagrams); SECONDS a hard time limit (default %.0f)\n",
                 max_count, max_payload, default_seconds);
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5 || argc > 7) {
        return usage();
    }
    in_addr destination_address{};
    switch (read_loopback_address("udp_sender", argv[1], &destination_address)) {
        case LoopbackAddress::ok:
            break;
        case LoopbackAddress::unreadable:
            return usage();
        case LoopbackAddress::not_loopback:
            return 2;
    }
    unsigned long port = 0;
    unsigned long count = 0;
    unsigned long rate = 0;
    unsigned long payload = 32;
    unsigned long seconds_limit = 0;
    if (!read_number(argv[2], 65535, &port) || port == 0 ||
        !read_number(argv[3], max_count, &count) || count == 0 ||
        !read_number(argv[4], 100'000'000, &rate) ||
        (argc >= 6 && !read_number(argv[5], max_payload, &payload)) ||
        (argc >= 7 && (!read_number(argv[6], 3600, &seconds_limit) || seconds_limit == 0))) {
        return usage();
    }
    const double time_limit = argc >= 7 ? static_cast<double>(seconds_limit) : default_seconds;

    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(static_cast<std::uint16_t>(port));
    destination.sin_addr = destination_address;

    // The holder: bound to the destination, never read.
    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    if (holder < 0 ||
        bind(holder, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) != 0) {
        std::fprintf(stderr, "udp_sender: cannot hold %s:%lu: %s\n", argv[1], port,
                     std::strerror(errno));
        return 1;
    }
    const int sender = socket(AF_INET, SOCK_DGRAM, 0);
    if (sender < 0 ||
        connect(sender, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) != 0) {
        std::fprintf(stderr, "udp_sender: cannot connect: %s\n", std::strerror(errno));
        return 1;
    }

    static char data[max_payload];
    std::memset(data, 'x', sizeof data);
    iovec vectors[batch_size];
    mmsghdr messages[batch_size];
    std::memset(messages, 0, sizeof messages);
    for (unsigned i = 0; i < batch_size; ++i) {
        vectors[i].iov_base = data;
        vectors[i].iov_len = payload;
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
    }

    const double start = now_seconds();
    const double deadline = start + time_limit;
    unsigned long sent = 0;
    double now = start;
    while (sent < count && now < deadline) {
        unsigned long batch = count - sent < batch_size ? count - sent : batch_size;
        if (rate != 0) {
            // Paced: wait (asleep, so the capturer has the processor) until
            // the whole batch is due, then send it at once.
            const double due =
                start + static_cast<double>(sent + batch) / static_cast<double>(rate);
            if (due > now) {
                const double wake = due < deadline ? due : deadline;
                timespec until{};
                until.tv_sec = static_cast<time_t>(wake);
                until.tv_nsec = static_cast<long>((wake - static_cast<double>(until.tv_sec)) * 1e9);
                clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr);
                now = now_seconds();
                continue;
            }
        }
        const int done = sendmmsg(sender, messages, static_cast<unsigned>(batch), 0);
        if (done < 0 && errno != EINTR && errno != ENOBUFS && errno != EAGAIN) {
            std::fprintf(stderr, "udp_sender: send: %s\n", std::strerror(errno));
            break;
        }
        if (done > 0) {
            sent += static_cast<unsigned long>(done);
        }
        now = now_seconds();
    }
    const double elapsed = now_seconds() - start;
    std::printf("sent=%lu seconds=%.3f rate=%.0f\n", sent, elapsed,
                elapsed > 0 ? static_cast<double>(sent) / elapsed : 0.0);
    close(sender);
    close(holder);
    return sent == count ? 0 : 1;
}

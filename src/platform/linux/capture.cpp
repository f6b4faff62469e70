// The capture socket on Linux: a packet socket in cooked mode (packet(7)),
// bound to the interface that holds the listen address. It sees every frame
// the interface receives or sends; only IPv4 datagrams are passed on, each
// starting with its IPv4 header, and on the loopback interface each datagram
// once (the kernel shows it there twice: going out and coming in).
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/linux/prefilter.hpp"
#include "platform/platform.hpp"

#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23  // Linux 4.20
#endif

namespace {

// errno of the last failed operation, for platform_last_error.
int last_errno = 0;

bool fail(int error) {
    last_errno = error;
    return false;
}

int socket_of(const CaptureSocket* capture) {
    return static_cast<int>(capture->handle);
}

// The receive buffer asked for: room for bursts of a few thousand datagrams.
constexpr int receive_buffer_bytes = 4 * 1024 * 1024;

// Finds the interface that holds `address` (network byte order).
bool find_interface(std::uint32_t address, int* index, bool* loopback, char (&found_name)[64]) {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return fail(errno);
    }
    bool found = false;
    for (const ifaddrs* entry = interfaces; entry != nullptr && !found; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in held{};
        std::memcpy(&held, entry->ifa_addr, sizeof held);
        if (held.sin_addr.s_addr != address) {
            continue;
        }
        // An address label such as "eth0:1" names the interface "eth0".
        char name[IF_NAMESIZE] = {};
        std::snprintf(name, sizeof name, "%s", entry->ifa_name);
        if (char* colon = std::strchr(name, ':'); colon != nullptr) {
            *colon = '\0';
        }
        const unsigned int found_index = if_nametoindex(name);
        if (found_index != 0) {
            *index = static_cast<int>(found_index);
            *loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
            std::snprintf(found_name, sizeof found_name, "%s", name);
            found = true;
        }
    }
    freeifaddrs(interfaces);
    return found ? true : fail(EADDRNOTAVAIL);
}

}  // namespace

bool platform_open_capture(CaptureSocket* capture) {
    // Protocol 0: nothing is queued until the socket is bound.
    const int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return fail(errno);
    }
    *capture = CaptureSocket{fd, 0, false, ""};
    return true;
}

bool platform_bind_capture(CaptureSocket* capture, std::uint32_t listen_address) {
    int index = 0;
    bool loopback = false;
    char name[64] = "";
    if (!find_interface(listen_address, &index, &loopback, name)) {
        return false;
    }
    // ETH_P_ALL, not ETH_P_IP: only then does the socket also see what the
    // host sends.
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = index;
    if (bind(socket_of(capture), reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
        return fail(errno);
    }
    capture->interface_index = index;
    capture->loopback = loopback;
    std::memcpy(capture->interface_name, name, sizeof name);
    return true;
}

bool platform_receive_all(CaptureSocket* capture, const CaptureFilter& filter) {
    const int fd = socket_of(capture);
    // The bound socket already receives every datagram of the interface (the
    // interface itself is not made promiscuous). What is left is room to keep
    // up: SO_RCVBUFFORCE passes net.core.rmem_max where permitted.
    const int size = receive_buffer_bytes;
    if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0 &&
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
        return fail(errno);
    }
    // On loopback every datagram goes out and comes in again; keep one copy.
    // Where the kernel lacks this option (before 4.20) it delivers both, and
    // platform_receive drops the outgoing one, so its result does not matter.
    if (capture->loopback) {
        const int ignore = 1;
        setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
    }
    // Datagrams the monitor would drop stay in the kernel (prefilter.hpp).
    if (!attach_prefilter(fd, build_prefilter(filter, capture->loopback))) {
        return fail(errno);
    }
    return true;
}

int platform_receive(CaptureSocket* capture, unsigned char* buffer, int capacity, int wait_ms) {
    if (wait_ms >= 0) {
        pollfd ready{socket_of(capture), POLLIN, 0};
        const int count = poll(&ready, 1, wait_ms);
        if (count == 0 || (count < 0 && errno == EINTR)) {
            return receive_nothing;
        }
    }
    sockaddr_ll from{};
    socklen_t from_length = sizeof from;
    // A datagram longer than `capacity` is cut to it, and the count is
    // `capacity`.
    const ssize_t count = recvfrom(socket_of(capture), buffer, static_cast<std::size_t>(capacity),
                                   0, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (count < 0) {
        last_errno = errno;
        return errno == EINTR ? receive_nothing : receive_failed;
    }
    if (from.sll_protocol != htons(ETH_P_IP) ||
        (capture->loopback && from.sll_pkttype == PACKET_OUTGOING)) {
        return receive_nothing;
    }
    return static_cast<int>(count);
}

bool platform_datagram_waiting(const CaptureSocket* capture) {
    unsigned char scrap[1];
    return recv(socket_of(capture), scrap, sizeof scrap, MSG_PEEK | MSG_DONTWAIT | MSG_TRUNC) > 0;
}

CaptureDrops platform_capture_drops(CaptureSocket* capture) {
    // The kernel's counters start again from zero at every read.
    static CaptureDrops totals{0, 0, true};
    tpacket_stats stats{};
    socklen_t size = sizeof stats;
    if (getsockopt(socket_of(capture), SOL_PACKET, PACKET_STATISTICS, &stats, &size) != 0) {
        return CaptureDrops{totals.dropped, totals.freezes, false};
    }
    totals.dropped += stats.tp_drops;
    return totals;
}

PlatformError platform_last_error() {
    PlatformError error{};
    std::snprintf(error.text, sizeof error.text, "%s", std::strerror(last_errno));
    error.permission_denied = last_errno == EPERM || last_errno == EACCES;
    error.privilege_hint = "run it as root, or grant it the capability: sudo setcap cap_net_raw+ep";
    return error;
}

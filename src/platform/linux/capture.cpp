// The capture socket on Linux: a packet socket in cooked mode (packet(7)),
// bound to the interface that holds the listen address. It sees every frame
// the interface receives or sends; only IPv4 datagrams are passed on, each
// starting with its IPv4 header, and on the loopback interface each datagram
// once (the kernel shows it there twice: going out and coming in). Datagrams
// come through a receive ring (receive_ring.hpp), or, where the kernel refuses
// one, through the socket's queue, a recvfrom each.
#include <arpa/inet.h>
#include <errno.h>
#include <ifaddrs.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/linux/prefilter.hpp"
#include "platform/linux/receive_ring.hpp"
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
    *capture = CaptureSocket{};
    capture->handle = fd;
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
    // The ring comes last. attach_prefilter empties the socket's queue with
    // recv, which reads the queue only, not a ring: with the ring first,
    // frames from before the prefilter would stay in it. In this order what
    // the prefilter passes between its attachment and the ring's is in the
    // queue, and platform_receive reads the queue when poll says a datagram is
    // waiting but the ring has none. Without a ring the queue serves alone.
    open_receive_ring(capture);
    return true;
}

namespace {

// receive_from_queue found the queue empty.
constexpr int queue_empty = -100;

// While the network is down, the longest an idle wait goes without looking
// whether the interface still exists: the error that tells of its deletion
// may come before the interface is gone from the list, or not at all where
// it was down already.
constexpr int down_check_ms = 250;

bool interface_exists(int index) {
    char name[IF_NAMESIZE];
    return if_indextoname(static_cast<unsigned int>(index), name) != nullptr;
}

// The result of a receive that failed with `error`. The kernel reports a
// deleted interface as the network being down (the same error as an
// interface set down), so the interface's index tells them apart.
int receive_error(CaptureSocket* capture, int error) {
    if (error == EINTR) {
        return receive_nothing;
    }
    last_errno = error;
    const bool gone =
        error == ENXIO || (error == ENETDOWN && !interface_exists(capture->interface_index));
    // Gone is said once; then the socket waits, as for a down interface that
    // never comes back.
    capture->network_down = error == ENETDOWN && !gone;
    return gone ? receive_interface_gone : receive_failed;
}

// What a received frame gives: its byte count, or nothing where it is not
// IPv4 or is loopback's outgoing copy (where the kernel lacks
// PACKET_IGNORE_OUTGOING).
int accept_frame(CaptureSocket* capture, int count, bool ipv4, bool outgoing) {
    capture->network_down = false;
    return !ipv4 || (capture->loopback && outgoing) ? receive_nothing : count;
}

int receive_from_ring(CaptureSocket* capture, unsigned char* buffer, int capacity) {
    const RingFrame frame = take_ring_frame(capture, buffer, capacity);
    return accept_frame(capture, frame.length, frame.ipv4, frame.outgoing);
}

// One datagram from the socket's queue, without waiting.
int receive_from_queue(CaptureSocket* capture, unsigned char* buffer, int capacity) {
    sockaddr_ll from{};
    socklen_t from_length = sizeof from;
    // A datagram longer than `capacity` is cut to it, and the count is
    // `capacity`.
    const ssize_t count =
        recvfrom(socket_of(capture), buffer, static_cast<std::size_t>(capacity > 0 ? capacity : 0),
                 MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &from_length);
    if (count < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK ? queue_empty
                                                       : receive_error(capture, errno);
    }
    return accept_frame(capture, static_cast<int>(count), from.sll_protocol == htons(ETH_P_IP),
                        from.sll_pkttype == PACKET_OUTGOING);
}

}  // namespace

int platform_receive(CaptureSocket* capture, unsigned char* buffer, int capacity, int wait_ms) {
    // What is waiting comes first, without waiting: from the ring no system
    // call at all.
    if (capture->ring != nullptr) {
        if (ring_frame_ready(capture)) {
            return receive_from_ring(capture, buffer, capacity);
        }
    } else if (const int got = receive_from_queue(capture, buffer, capacity); got != queue_empty) {
        return got;
    }

    pollfd ready{socket_of(capture), POLLIN, 0};
    for (;;) {
        const bool look_for_interface =
            capture->network_down && (wait_ms < 0 || wait_ms > down_check_ms);
        const int count = poll(&ready, 1, look_for_interface ? down_check_ms : wait_ms);
        if (count < 0) {
            return receive_error(capture, errno);
        }
        if (count > 0) {
            break;
        }
        if (capture->network_down && !interface_exists(capture->interface_index)) {
            capture->network_down = false;
            last_errno = ENODEV;
            return receive_interface_gone;
        }
        if (wait_ms >= 0) {
            return receive_nothing;  // the wait is over, or cut short while the network is down
        }
    }
    // An error is reported once: reading it clears it, and the next poll
    // waits again (a down interface sends nothing).
    if ((ready.revents & POLLERR) != 0) {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(socket_of(capture), SOL_SOCKET, SO_ERROR, &error, &size) == 0 &&
            error != 0) {
            return receive_error(capture, error);
        }
    }
    if (capture->ring != nullptr && ring_frame_ready(capture)) {
        return receive_from_ring(capture, buffer, capacity);
    }
    // With a ring, what was queued before it was set up.
    const int got = receive_from_queue(capture, buffer, capacity);
    return got == queue_empty ? receive_nothing : got;
}

bool platform_datagram_waiting(const CaptureSocket* capture) {
    if (capture->ring != nullptr) {
        return ring_frame_ready(capture);
    }
    unsigned char scrap[1];
    return recv(socket_of(capture), scrap, sizeof scrap, MSG_PEEK | MSG_DONTWAIT | MSG_TRUNC) > 0;
}

void platform_nap(int microseconds) {
    const timespec nap{0, static_cast<long>(microseconds) * 1000};
    nanosleep(&nap, nullptr);  // a signal cuts it short: the loop looks at it next
}

CaptureDrops platform_capture_drops(CaptureSocket* capture) {
    // The kernel's counters start again from zero at every read. TPACKET_V2
    // and the queue count no freezes (only TPACKET_V3's blocks freeze).
    tpacket_stats stats{};
    socklen_t size = sizeof stats;
    if (getsockopt(socket_of(capture), SOL_PACKET, PACKET_STATISTICS, &stats, &size) != 0) {
        return CaptureDrops{capture->dropped, capture->freezes, false};
    }
    capture->dropped += stats.tp_drops;
    return CaptureDrops{capture->dropped, capture->freezes, true};
}

PlatformError platform_last_error() {
    PlatformError error{};
    std::snprintf(error.text, sizeof error.text, "%s", std::strerror(last_errno));
    error.permission_denied = last_errno == EPERM || last_errno == EACCES;
    error.privilege_hint = "run it as root, or grant it the capability: sudo setcap cap_net_raw+ep";
    return error;
}

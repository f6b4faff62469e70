// The capture on Linux: a packet socket in cooked mode (packet(7)), bound to
// the interface that holds the listen address. It sees every frame the
// interface receives or sends; only IPv4 datagrams are passed on, each
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
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/capture.hpp"
#include "platform/linux/capture_state.hpp"
#include "platform/linux/prefilter.hpp"
#include "platform/linux/receive_ring.hpp"

#ifndef PACKET_IGNORE_OUTGOING
#define PACKET_IGNORE_OUTGOING 23  // Linux 4.20
#endif

namespace {

// The captures open at once: the monitor opens one, a test a few.
constexpr int max_captures = 8;
Capture captures[max_captures];

// The receive buffer asked for: room for bursts of a few thousand datagrams.
constexpr int receive_buffer_bytes = 4 * 1024 * 1024;

// While the network is down, the longest an idle wait goes without looking
// whether the interface still exists: the error that tells of its deletion
// may come before the interface is gone from the list, or not at all where
// it was down already.
constexpr int down_check_ms = 250;

// Fills `report` with the reason `error` gives and says which step failed.
CaptureOpen fail(CaptureOpen step, int error, CaptureReport* report) {
    std::snprintf(report->reason, sizeof report->reason, "%s", std::strerror(error));
    report->permission_denied = error == EPERM || error == EACCES;
    return step;
}

// Finds the interface that holds `address` (network byte order); 0, or an
// errno value when there is none.
int find_interface(std::uint32_t address, Capture* capture) {
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return errno;
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
        const unsigned int index = if_nametoindex(name);
        if (index != 0) {
            capture->interface_index = static_cast<int>(index);
            capture->loopback = (entry->ifa_flags & IFF_LOOPBACK) != 0;
            std::snprintf(capture->interface_name, sizeof capture->interface_name, "%s", name);
            found = true;
        }
    }
    freeifaddrs(interfaces);
    return found ? 0 : EADDRNOTAVAIL;
}

// The bound socket already receives every datagram of the interface (the
// interface itself is not made promiscuous). What is left: room to keep up,
// one copy of each datagram on loopback, and the kernel's filter. 0, or the
// errno value of the step that failed.
int configure(Capture* capture, const CaptureFilter& filter) {
    // SO_RCVBUFFORCE passes net.core.rmem_max where permitted.
    const int size = receive_buffer_bytes;
    if (setsockopt(capture->fd, SOL_SOCKET, SO_RCVBUFFORCE, &size, sizeof size) != 0 &&
        setsockopt(capture->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
        return errno;
    }
    // On loopback every datagram goes out and comes in again; keep one copy.
    // Where the kernel lacks this option (before 4.20) it delivers both, and
    // the receive drops the outgoing one, so its result does not matter.
    if (capture->loopback) {
        const int ignore = 1;
        setsockopt(capture->fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &ignore, sizeof ignore);
    }
    // Each datagram read from the queue says its length before the filter
    // cut it; without this it is told as cut (the ring tells it anyway).
    const int auxiliary = 1;
    setsockopt(capture->fd, SOL_PACKET, PACKET_AUXDATA, &auxiliary, sizeof auxiliary);
    // Datagrams the monitor would drop stay in the kernel (prefilter.hpp).
    if (!attach_prefilter(capture->fd, build_prefilter(filter, capture->loopback))) {
        return errno;
    }
    return 0;
}

}  // namespace

CaptureOpen platform_open_capture(std::uint32_t listen_address, const CaptureFilter& filter,
                                  Capture** opened, CaptureReport* report) {
    *report = CaptureReport{};
    report->privilege_hint =
        "run it as root, or grant it the capability: sudo setcap cap_net_raw+ep";
    *opened = nullptr;
    Capture* capture = nullptr;
    for (Capture& slot : captures) {
        if (!slot.in_use) {
            capture = &slot;
            break;
        }
    }
    if (capture == nullptr) {
        return fail(CaptureOpen::socket_failed, EMFILE, report);
    }
    // Protocol 0: nothing is queued until the socket is bound.
    const int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return fail(CaptureOpen::socket_failed, errno, report);
    }
    *capture = Capture{};
    capture->fd = fd;
    if (const int error = find_interface(listen_address, capture); error != 0) {
        close(fd);
        return fail(CaptureOpen::bind_failed, error, report);
    }
    // ETH_P_ALL, not ETH_P_IP: only then does the socket also see what the
    // host sends.
    sockaddr_ll link{};
    link.sll_family = AF_PACKET;
    link.sll_protocol = htons(ETH_P_ALL);
    link.sll_ifindex = capture->interface_index;
    if (bind(fd, reinterpret_cast<const sockaddr*>(&link), sizeof link) != 0) {
        const int error = errno;
        close(fd);
        return fail(CaptureOpen::bind_failed, error, report);
    }
    if (const int error = configure(capture, filter); error != 0) {
        close(fd);
        return fail(CaptureOpen::configure_failed, error, report);
    }
    // The ring comes last. attach_prefilter empties the socket's queue with
    // recv, which reads the queue only, not a ring: with the ring first,
    // frames from before the prefilter would stay in it. In this order what
    // the prefilter passes between its attachment and the ring's is in the
    // queue, and the receive reads the queue when poll says a datagram is
    // waiting but the ring has none. Without a ring the queue serves alone.
    if (!open_receive_ring(capture)) {
        std::snprintf(report->note, sizeof report->note,
                      "no receive ring on %s (%s): reading the socket's queue, one system call a "
                      "datagram",
                      capture->interface_name, std::strerror(errno));
    }
    capture->in_use = true;
    *opened = capture;
    return CaptureOpen::opened;
}

void platform_close_capture(Capture* capture) {
    if (capture == nullptr || !capture->in_use) {
        return;
    }
    close_receive_ring(capture);
    close(capture->fd);
    *capture = Capture{};
}

const char* platform_capture_interface(const Capture* capture) {
    return capture->interface_name;
}

namespace {

bool interface_exists(int index) {
    char name[IF_NAMESIZE];
    return if_indextoname(static_cast<unsigned int>(index), name) != nullptr;
}

// The result of a receive that failed with `error`. The kernel reports a
// deleted interface as the network being down (the same error as an
// interface set down), so the interface's index tells them apart.
CaptureReceive receive_error(Capture* capture, int error) {
    if (error == EINTR) {
        return CaptureReceive::nothing;
    }
    const bool gone =
        error == ENXIO || (error == ENETDOWN && !interface_exists(capture->interface_index));
    // Gone is said once; then the socket waits, as for a down interface that
    // never comes back.
    capture->network_down = error == ENETDOWN && !gone;
    return gone ? CaptureReceive::interface_gone : CaptureReceive::failed;
}

// What a received frame gives: a datagram, or nothing where it is not IPv4
// or is loopback's outgoing copy (where the kernel lacks
// PACKET_IGNORE_OUTGOING).
CaptureReceive accept_frame(Capture* capture, Received frame, bool ipv4, bool outgoing,
                            Received* received) {
    capture->network_down = false;
    *received = frame;
    return !ipv4 || (capture->loopback && outgoing) ? CaptureReceive::nothing
                                                    : CaptureReceive::datagram;
}

CaptureReceive receive_from_ring(Capture* capture, unsigned char* buffer, int capacity,
                                 Received* received) {
    const RingFrame frame = take_ring_frame(capture, buffer, capacity);
    return accept_frame(capture, Received{frame.length, frame.original_length}, frame.ipv4,
                        frame.outgoing, received);
}

// One datagram from the socket's queue, without waiting; false when the queue
// is empty. Its length before the kernel's filter cut it comes with it
// (PACKET_AUXDATA).
bool receive_from_queue(Capture* capture, unsigned char* buffer, int capacity, Received* received,
                        CaptureReceive* result) {
    sockaddr_ll from{};
    iovec part{buffer, static_cast<std::size_t>(capacity > 0 ? capacity : 0)};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(tpacket_auxdata))];
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    // A datagram longer than `capacity` is cut to it, and the count is
    // `capacity`.
    const ssize_t count = recvmsg(capture->fd, &message, MSG_DONTWAIT);
    if (count < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return false;
        }
        *result = receive_error(capture, errno);
        return true;
    }
    Received frame{static_cast<int>(count), static_cast<std::uint32_t>(count)};
    for (cmsghdr* note = CMSG_FIRSTHDR(&message); note != nullptr;
         note = CMSG_NXTHDR(&message, note)) {
        if (note->cmsg_level == SOL_PACKET && note->cmsg_type == PACKET_AUXDATA &&
            note->cmsg_len >= CMSG_LEN(sizeof(tpacket_auxdata))) {
            tpacket_auxdata auxiliary{};
            std::memcpy(&auxiliary, CMSG_DATA(note), sizeof auxiliary);
            frame.original_length = auxiliary.tp_len;
        }
    }
    *result = accept_frame(capture, frame, from.sll_protocol == htons(ETH_P_IP),
                           from.sll_pkttype == PACKET_OUTGOING, received);
    return true;
}

}  // namespace

CaptureReceive platform_receive(Capture* capture, unsigned char* buffer, int capacity, int wait_ms,
                                Received* received) {
    *received = Received{};
    // What is waiting comes first, without waiting: from the ring no system
    // call at all.
    CaptureReceive result = CaptureReceive::nothing;
    if (capture->ring.frames != nullptr) {
        if (ring_frame_ready(capture)) {
            return receive_from_ring(capture, buffer, capacity, received);
        }
    } else if (receive_from_queue(capture, buffer, capacity, received, &result)) {
        return result;
    }
    // Not waiting: what the ring did not hold (frames queued before it was
    // set up, an error) is taken by the next wait.
    if (wait_ms == 0) {
        return CaptureReceive::nothing;
    }

    pollfd ready{capture->fd, POLLIN, 0};
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
            return CaptureReceive::interface_gone;
        }
        if (wait_ms >= 0) {
            return CaptureReceive::nothing;  // the wait is over, or cut short while down
        }
    }
    // An error is reported once: reading it clears it, and the next poll
    // waits again (a down interface sends nothing).
    if ((ready.revents & POLLERR) != 0) {
        int error = 0;
        socklen_t size = sizeof error;
        if (getsockopt(capture->fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error != 0) {
            return receive_error(capture, error);
        }
    }
    if (capture->ring.frames != nullptr && ring_frame_ready(capture)) {
        return receive_from_ring(capture, buffer, capacity, received);
    }
    // With a ring, what was queued before it was set up.
    return receive_from_queue(capture, buffer, capacity, received, &result)
               ? result
               : CaptureReceive::nothing;
}

CaptureDrops platform_capture_drops(Capture* capture) {
    // The kernel's counters start again from zero at every read.
    tpacket_stats stats{};
    socklen_t size = sizeof stats;
    if (getsockopt(capture->fd, SOL_PACKET, PACKET_STATISTICS, &stats, &size) != 0) {
        return CaptureDrops{capture->dropped, false};
    }
    capture->dropped += stats.tp_drops;
    return CaptureDrops{capture->dropped, true};
}

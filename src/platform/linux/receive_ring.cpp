// The receive ring, TPACKET_V2. Why not TPACKET_V3: V3 fills blocks of many
// frames and hands a block over only when it is full or its retire timer
// expires (8 ms or more), so on a quiet interface a datagram would wait for
// the timer, and the monitor shows each datagram at once. V2 hands each frame
// over as soon as it is written and has no timer. What V3 saves (fewer
// wake-ups under load) matters little here: a wake-up already drains every
// frame that is ready.
#include "platform/linux/receive_ring.hpp"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

#include "net/packet.hpp"

namespace {

// TPACKET_ALIGN, without the macro's signed mask.
constexpr std::uint32_t frame_align(std::size_t bytes) {
    constexpr std::size_t alignment = TPACKET_ALIGNMENT;
    return static_cast<std::uint32_t>((bytes + alignment - 1) / alignment * alignment);
}

// Where the kernel writes a datagram in a frame of a cooked-mode socket: after
// the frame header, the sockaddr_ll (TPACKET2_HDRLEN, aligned), and 16 bytes
// left for a link header.
constexpr std::uint32_t data_offset =
    frame_align(frame_align(sizeof(tpacket2_hdr)) + sizeof(sockaddr_ll)) + 16;

// Where the frame's sockaddr_ll is.
constexpr std::uint32_t address_offset = frame_align(sizeof(tpacket2_hdr));

constexpr std::uint32_t power_of_two_at_least(std::uint32_t bytes) {
    std::uint32_t size = 1;
    while (size < bytes) {
        size *= 2;
    }
    return size;
}

// A frame holds the longest datagram the prefilter keeps (2,000 bytes) after
// its header: 80 + 2,000 bytes, rounded up to 4,096 (frames are a power of
// two, so that they tile the blocks).
constexpr std::uint32_t frame_bytes =
    power_of_two_at_least(data_offset + std::uint32_t{packet_buffer_size});

// 8 MiB: 2,048 frames, a burst of 2,048 datagrams whatever their length
// (10 ms at 200,000 a second: the time the monitor may be away). The queue's
// 4 MiB receive buffer holds more small datagrams but fewer long ones, since
// the kernel charges it each datagram's whole buffer; the ring's room does not
// shrink with the length.
constexpr std::uint32_t ring_bytes = 8 * 1024 * 1024;

tpacket2_hdr* frame_header(const Capture* capture, std::uint32_t frame) {
    return reinterpret_cast<tpacket2_hdr*>(capture->ring.frames +
                                           std::size_t{frame} * capture->ring.frame_bytes);
}

}  // namespace

bool open_receive_ring(Capture* capture) {
    const int fd = capture->fd;
    const int version = TPACKET_V2;
    if (setsockopt(fd, SOL_PACKET, PACKET_VERSION, &version, sizeof version) != 0) {
        return false;
    }
    // Blocks of a page (or one frame where pages are smaller): each is a
    // separate allocation in the kernel, and small ones are easy to find.
    const long page = sysconf(_SC_PAGESIZE);
    const std::uint32_t block_bytes =
        page > static_cast<long>(frame_bytes) ? static_cast<std::uint32_t>(page) : frame_bytes;
    tpacket_req request{};
    request.tp_block_size = block_bytes;
    request.tp_block_nr = ring_bytes / block_bytes;
    request.tp_frame_size = frame_bytes;
    request.tp_frame_nr = ring_bytes / frame_bytes;
    if (setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request) != 0) {
        const int error = errno;
        const int back = TPACKET_V1;
        setsockopt(fd, SOL_PACKET, PACKET_VERSION, &back, sizeof back);
        errno = error;
        return false;
    }
    void* mapped = mmap(nullptr, ring_bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        const int error = errno;
        request = tpacket_req{};
        setsockopt(fd, SOL_PACKET, PACKET_RX_RING, &request, sizeof request);
        const int back = TPACKET_V1;
        setsockopt(fd, SOL_PACKET, PACKET_VERSION, &back, sizeof back);
        errno = error;
        return false;
    }
    capture->ring = ReceiveRing{static_cast<unsigned char*>(mapped), ring_bytes, frame_bytes,
                                request.tp_frame_nr, 0};
    return true;
}

void close_receive_ring(Capture* capture) {
    if (capture->ring.frames == nullptr) {
        return;
    }
    munmap(capture->ring.frames, capture->ring.bytes);
    // A ring of no blocks takes the ring off: the kernel queues datagrams on
    // the socket again.
    tpacket_req none{};
    setsockopt(capture->fd, SOL_PACKET, PACKET_RX_RING, &none, sizeof none);
    capture->ring = ReceiveRing{};
}

bool ring_frame_ready(const Capture* capture) {
    // Acquire: the frame's bytes, written before the kernel set the status,
    // are seen once the status is.
    const tpacket2_hdr* header = frame_header(capture, capture->ring.next_frame);
    return (__atomic_load_n(&header->tp_status, __ATOMIC_ACQUIRE) & TP_STATUS_USER) != 0;
}

RingFrame take_ring_frame(Capture* capture, unsigned char* buffer, int capacity) {
    tpacket2_hdr* header = frame_header(capture, capture->ring.next_frame);
    const unsigned char* frame = reinterpret_cast<const unsigned char*>(header);
    sockaddr_ll from{};
    std::memcpy(&from, frame + address_offset, sizeof from);

    RingFrame taken{0, header->tp_len, from.sll_protocol == htons(ETH_P_IP),
                    from.sll_pkttype == PACKET_OUTGOING};
    // The kernel wrote tp_snaplen bytes at tp_net (in cooked mode tp_mac is the
    // same place, no link header being kept); both stay inside the frame
    // (it cuts a datagram to the frame), but they are checked all the same.
    std::uint32_t length = header->tp_snaplen;
    const std::uint32_t at = header->tp_net;
    if (at > capture->ring.frame_bytes || length > capture->ring.frame_bytes - at ||
        capacity <= 0) {
        length = 0;
    } else if (length > static_cast<std::uint32_t>(capacity)) {
        length = static_cast<std::uint32_t>(capacity);
    }
    if (taken.ipv4 && length > 0) {
        std::memcpy(buffer, frame + at, length);
        taken.length = static_cast<int>(length);
    }
    // Release: the copy above is done before the kernel may write the frame
    // again.
    __atomic_store_n(&header->tp_status, TP_STATUS_KERNEL, __ATOMIC_RELEASE);
    ReceiveRing& ring = capture->ring;
    ring.next_frame = ring.next_frame + 1 == ring.frame_count ? 0 : ring.next_frame + 1;
    return taken;
}

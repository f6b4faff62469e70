// The kernel prefilter: a classic BPF program over the IPv4 header (RFC 791)
// and the first four bytes after it (the ports of RFC 793 and RFC 768), with
// the ancillary loads of the packet socket for the frame's EtherType and
// direction (packet(7), filter(2) in socket(7)).
#include "platform/linux/prefilter.hpp"

#include <errno.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

namespace {

// The instructions the program is made of.
constexpr std::uint16_t load_word = BPF_LD | BPF_W | BPF_ABS;    // A = 32 bits at k, big-endian
constexpr std::uint16_t load_half = BPF_LD | BPF_H | BPF_ABS;    // A = 16 bits at k, big-endian
constexpr std::uint16_t load_length = BPF_LD | BPF_W | BPF_LEN;  // A = frame length
constexpr std::uint16_t jump_equal = BPF_JMP | BPF_JEQ | BPF_K;
constexpr std::uint16_t jump_greater_equal = BPF_JMP | BPF_JGE | BPF_K;
constexpr std::uint16_t jump_greater = BPF_JMP | BPF_JGT | BPF_K;
constexpr std::uint16_t return_constant = BPF_RET | BPF_K;

// Ancillary loads: values of the frame that are not in its bytes.
constexpr std::uint32_t ancillary(int field) {
    return static_cast<std::uint32_t>(SKF_AD_OFF + field);
}

// The fields read, relative to the IPv4 header, and the lengths that hold them.
constexpr std::uint32_t source_address_at = 12;
constexpr std::uint32_t destination_address_at = 16;
constexpr std::uint32_t source_port_at = 20;
constexpr std::uint32_t destination_port_at = 22;
constexpr std::uint32_t addresses_end = 20;
constexpr std::uint32_t ports_end = 24;

// Jump targets, placed as the program is written and resolved at the end.
enum Label : int {
    next = -1,   // the following instruction
    keep_label,  // keep the datagram (its first 2000 bytes)
    drop_label,  // the monitor never sees it
    destination_test,
    address_passed,
    label_count,
};

struct Assembly {
    PrefilterProgram program;
    Label true_target[prefilter_max_instructions];
    Label false_target[prefilter_max_instructions];
    int label_at[label_count];
};

void emit(Assembly* a, std::uint16_t code, std::uint32_t k, Label if_true = next,
          Label if_false = next) {
    const int at = a->program.count++;
    a->program.instruction[at] = sock_filter{code, 0, 0, k};
    a->true_target[at] = if_true;
    a->false_target[at] = if_false;
}

void place(Assembly* a, Label label) {
    a->label_at[label] = a->program.count;
}

// Jumps of classic BPF go forward only, by an 8-bit count of instructions.
std::uint8_t jump_offset(const Assembly& a, int from, Label target) {
    return target == next ? 0 : static_cast<std::uint8_t>(a.label_at[target] - (from + 1));
}

}  // namespace

PrefilterProgram build_prefilter(const CaptureFilter& filter, bool loopback) {
    Assembly a{};

    // IPv4 frames only.
    emit(&a, load_half, ancillary(SKF_AD_PROTOCOL));
    emit(&a, jump_equal, ETH_P_IP, next, drop_label);

    // Loopback shows every datagram going out and coming in: keep one.
    if (loopback) {
        emit(&a, load_half, ancillary(SKF_AD_PKTTYPE));
        emit(&a, jump_equal, PACKET_OUTGOING, drop_label, next);
    }

    // The address range (range_holds: low <= address <= high, unsigned),
    // source first.
    if (filter.has_range) {
        const std::uint32_t low = filter.low;
        const std::uint32_t high = filter.high;
        emit(&a, load_length, 0);
        emit(&a, jump_greater_equal, addresses_end, next, keep_label);
        emit(&a, load_word, source_address_at);
        emit(&a, jump_greater_equal, low, next, destination_test);
        emit(&a, jump_greater, high, destination_test, address_passed);
        place(&a, destination_test);
        emit(&a, load_word, destination_address_at);
        emit(&a, jump_greater_equal, low, next, drop_label);
        emit(&a, jump_greater, high, drop_label, address_passed);
    }
    place(&a, address_passed);

    // Either port, whatever the protocol.
    if (filter.has_port) {
        emit(&a, load_length, 0);
        emit(&a, jump_greater_equal, ports_end, next, keep_label);
        emit(&a, load_half, source_port_at);
        emit(&a, jump_equal, filter.port, keep_label, next);
        emit(&a, load_half, destination_port_at);
        emit(&a, jump_equal, filter.port, keep_label, drop_label);
    }

    place(&a, keep_label);
    emit(&a, return_constant, prefilter_snap_length);
    place(&a, drop_label);
    emit(&a, return_constant, 0);

    for (int at = 0; at < a.program.count; ++at) {
        a.program.instruction[at].jt = jump_offset(a, at, a.true_target[at]);
        a.program.instruction[at].jf = jump_offset(a, at, a.false_target[at]);
    }
    return a.program;
}

bool attach_prefilter(int fd, const PrefilterProgram& program) {
    // Nothing more is queued once this is in place.
    sock_filter drop_all[1] = {{return_constant, 0, 0, 0}};
    const sock_fprog drop_all_program{1, drop_all};
    if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &drop_all_program, sizeof drop_all_program) !=
        0) {
        return false;
    }

    // What came before is thrown away: the queue holds at most the receive
    // buffer's worth of frames, far fewer than this bound.
    constexpr long max_drained = 1'000'000;
    unsigned char scrap[1];
    for (long drained = 0; drained < max_drained; ++drained) {
        if (recv(fd, scrap, sizeof scrap, MSG_DONTWAIT | MSG_TRUNC) < 0) {
            break;  // EAGAIN: empty
        }
    }

    PrefilterProgram copy = program;
    const sock_fprog real_program{static_cast<unsigned short>(copy.count), copy.instruction};
    if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &real_program, sizeof real_program) != 0) {
        const int error = errno;
        int unused = 0;
        setsockopt(fd, SOL_SOCKET, SO_DETACH_FILTER, &unused, sizeof unused);
        errno = error;
        return false;
    }
    return true;
}

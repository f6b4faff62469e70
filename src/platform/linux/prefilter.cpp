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
// X = 4 * (byte at k & 0x0F): the IPv4 header's length.
constexpr std::uint16_t load_x_header_length = BPF_LDX | BPF_B | BPF_MSH;
constexpr std::uint16_t load_x_constant = BPF_LDX | BPF_W | BPF_IMM;
constexpr std::uint16_t x_to_a = BPF_MISC | BPF_TXA;
constexpr std::uint16_t subtract = BPF_ALU | BPF_SUB | BPF_K;
constexpr std::uint16_t jump_greater_equal_x = BPF_JMP | BPF_JGE | BPF_X;
constexpr std::uint16_t load_half_after_x = BPF_LD | BPF_H | BPF_IND;  // A = 16 bits at X + k

// Ancillary loads: values of the frame that are not in its bytes.
constexpr std::uint32_t ancillary(int field) {
    return static_cast<std::uint32_t>(SKF_AD_OFF + field);
}

// The fields read, relative to the IPv4 header, and the lengths that hold them.
constexpr std::uint32_t source_address_at = 12;
constexpr std::uint32_t destination_address_at = 16;
constexpr std::uint32_t addresses_end = 20;
constexpr std::uint32_t shortest_header = 20;
constexpr std::uint32_t ports_size = 4;  // source and destination port, after the header

// Jump targets, placed as the program is written and resolved at the end.
enum Label : int {
    next = -1,   // the following instruction
    keep_label,  // keep the datagram (its first 2000 bytes)
    drop_label,  // the monitor never sees it
    destination_test,
    address_passed,
    header_at_20,
    header_known,
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

    // Either port, whatever the protocol, in the four bytes after the header:
    // at 4 x IHL when that is at least 20 and within the frame, else at 20
    // (transport_offset). A frame too short for both ports goes up.
    if (filter.has_port) {
        emit(&a, load_x_header_length, 0);
        emit(&a, x_to_a, 0);
        emit(&a, jump_greater_equal, shortest_header, next, header_at_20);
        emit(&a, load_length, 0);
        emit(&a, jump_greater_equal_x, 0, header_known, next);
        place(&a, header_at_20);
        emit(&a, load_x_constant, shortest_header);
        place(&a, header_known);
        // length - 4 >= X: both ports lie in the frame. (A frame under 4
        // bytes wraps here and its load fails, which drops it: the monitor
        // reads only zeros there, which match no port.)
        emit(&a, load_length, 0);
        emit(&a, subtract, ports_size);
        emit(&a, jump_greater_equal_x, 0, next, keep_label);
        emit(&a, load_half_after_x, 0);
        emit(&a, jump_equal, filter.port, keep_label, next);
        emit(&a, load_half_after_x, 2);
        emit(&a, jump_equal, filter.port, keep_label, drop_label);
    }

    place(&a, keep_label);
    emit(&a, return_constant, std::uint32_t{packet_buffer_size});  // the receive buffer's worth
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

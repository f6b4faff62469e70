// A classic BPF interpreter for the instructions the prefilter uses, run over
// one frame as a cooked packet socket shows it to its program: the bytes from
// the IPv4 header on, the frame's whole length, and the two ancillary values.
// Like the kernel, a load that does not fit in the frame ends the program with
// 0 (drop), and so does an instruction it does not know or a jump out of the
// program. Shared by the prefilter test and the prefilter fuzz target.
#pragma once

#include <linux/filter.h>

#include <cstddef>
#include <cstdint>

struct CbpfFrame {
    const std::uint8_t* bytes;  // `length` bytes
    std::uint32_t length;
    std::uint16_t protocol;  // EtherType, host order
    std::uint8_t packet_type;
};

// The program's return value: 0 to drop, else the length to keep.
inline std::uint32_t run_cbpf(const sock_filter* program, int count, const CbpfFrame& frame) {
    const std::uint32_t ancillary_base = static_cast<std::uint32_t>(SKF_AD_OFF);
    std::uint32_t a = 0;
    std::uint32_t x = 0;
    // Every jump goes forward, so the program ends within `count` steps.
    for (int pc = 0; pc >= 0 && pc < count; ++pc) {
        const sock_filter& insn = program[pc];
        switch (insn.code) {
            case BPF_LD | BPF_W | BPF_ABS:
            case BPF_LD | BPF_H | BPF_ABS:
            case BPF_LD | BPF_B | BPF_ABS: {
                const std::uint32_t size = BPF_SIZE(insn.code) == BPF_W   ? 4
                                           : BPF_SIZE(insn.code) == BPF_H ? 2
                                                                          : 1;
                if (insn.k == ancillary_base + SKF_AD_PROTOCOL) {
                    a = frame.protocol;
                } else if (insn.k == ancillary_base + SKF_AD_PKTTYPE) {
                    a = frame.packet_type;
                } else if (insn.k >= ancillary_base) {
                    return 0;  // an ancillary load this interpreter does not know
                } else if (frame.length < size || insn.k > frame.length - size) {
                    return 0;  // out of the frame
                } else {
                    a = 0;
                    for (std::uint32_t i = 0; i < size; ++i) {
                        a = a << 8 | frame.bytes[insn.k + i];
                    }
                }
                break;
            }
            case BPF_LD | BPF_H | BPF_IND: {
                // Like the kernel: the offset X + k, computed without wrapping.
                const std::uint64_t at = std::uint64_t{x} + insn.k;
                if (at + 2 > frame.length) {
                    return 0;
                }
                a = std::uint32_t{frame.bytes[at]} << 8 | frame.bytes[at + 1];
                break;
            }
            case BPF_LD | BPF_W | BPF_LEN:
                a = frame.length;
                break;
            case BPF_LDX | BPF_B | BPF_MSH:
                if (insn.k >= frame.length) {
                    return 0;
                }
                x = (frame.bytes[insn.k] & 0x0Fu) * 4u;
                break;
            case BPF_LDX | BPF_W | BPF_IMM:
                x = insn.k;
                break;
            case BPF_MISC | BPF_TXA:
                a = x;
                break;
            case BPF_ALU | BPF_SUB | BPF_K:
                a -= insn.k;
                break;
            case BPF_JMP | BPF_JGE | BPF_X:
                pc += a >= x ? insn.jt : insn.jf;
                break;
            case BPF_JMP | BPF_JEQ | BPF_K:
                pc += a == insn.k ? insn.jt : insn.jf;
                break;
            case BPF_JMP | BPF_JGE | BPF_K:
                pc += a >= insn.k ? insn.jt : insn.jf;
                break;
            case BPF_JMP | BPF_JGT | BPF_K:
                pc += a > insn.k ? insn.jt : insn.jf;
                break;
            case BPF_RET | BPF_K:
                return insn.k;
            default:
                return 0;
        }
    }
    return 0;  // ran off the end: the kernel refuses such a program
}

// Nanoseconds per datagram of each view, written to a file as the log mode
// writes it: the summary, the detail view, the detail view with the hex dump,
// the console echo, and the whole per-datagram work of the log mode (account,
// flush, echo). The datagrams are a fixed mix of TCP, UDP and ICMP; the clock
// is the real local clock.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "monitor/local_clock.hpp"
#include "net/packet.hpp"
#include "platform/clock.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/port_label.hpp"
#include "render/summary.hpp"
#include "support/bytes.hpp"

namespace {

struct Datagram {
    std::uint8_t protocol;
    std::uint16_t source_port;  // or ICMP type and code
    std::uint16_t destination_port;
    int length;
};

// Web, name service and unnamed ports (an unnamed port reads the whole port
// table when looked up row by row), ICMP echo and unreachable, mostly small
// datagrams and two full-size ones.
constexpr Datagram mix[] = {
    {6, 443, 51544, 60},    {6, 51544, 443, 1500}, {17, 53, 40123, 120}, {17, 40123, 53, 72},
    {6, 22, 50022, 92},     {17, 5353, 5353, 200}, {1, 0x0800, 0, 84},   {1, 0x0303, 0, 112},
    {17, 9999, 40000, 60},  {6, 80, 33000, 1500},  {17, 123, 123, 76},   {6, 3389, 60001, 60},
    {17, 33434, 33435, 60}, {6, 25, 41000, 60},    {1, 0x0000, 0, 84},   {17, 514, 514, 160},
};
constexpr std::size_t mix_size = sizeof mix / sizeof mix[0];

struct Buffers {
    PacketBuffer packet[mix_size];
};

using test_support::put_be16;

const Buffers& datagrams() {
    static const Buffers buffers = [] {
        Buffers made{};
        for (std::size_t i = 0; i < mix_size; ++i) {
            const Datagram& d = mix[i];
            std::uint8_t* b = made.packet[i].bytes;
            b[0] = 0x45;
            put_be16(b + 2, static_cast<std::uint16_t>(d.length));
            put_be16(b + 4, static_cast<std::uint16_t>(0x1234 + i));
            b[8] = 64;
            b[9] = d.protocol;
            put_be16(b + 10, 0xBEEF);
            const std::uint8_t source[4] = {192, 168, 1, static_cast<std::uint8_t>(10 + i)};
            const std::uint8_t destination[4] = {10, 0, 0, static_cast<std::uint8_t>(1 + i)};
            std::memcpy(b + 12, source, 4);
            std::memcpy(b + 16, destination, 4);
            put_be16(b + 20, d.source_port);
            put_be16(b + 22, d.destination_port);
            for (int at = 24; at < d.length; ++at) {
                b[at] = static_cast<std::uint8_t>(at * 7 + static_cast<int>(i));
            }
            if (d.protocol == 6) {
                b[32] = 0x50;
                b[33] = 0x18;
            }
            made.packet[i].length = d.length;
        }
        return made;
    }();
    return buffers;
}

// A file in the temporary directory with the log stream's 64 KiB buffer,
// rewound now and then so it stays small.
struct BenchFile {
    std::FILE* stream;
    char buffer[64 * 1024];
};

BenchFile* open_bench_file() {
    static BenchFile file{};
    if (file.stream == nullptr) {
        file.stream = std::tmpfile();
        if (file.stream != nullptr) {
            std::setvbuf(file.stream, file.buffer, _IOFBF, sizeof file.buffer);
        }
    }
    return &file;
}

template <typename Render>
void run(benchmark::State& state, Render render) {
    BenchFile* file = open_bench_file();
    if (file->stream == nullptr) {
        state.SkipWithError("no temporary file");
        return;
    }
    std::rewind(file->stream);
    const Buffers& buffers = datagrams();
    std::size_t next = 0;
    std::size_t since_rewind = 0;
    for (auto _ : state) {
        const PacketBuffer& packet = buffers.packet[next];
        render(file->stream, packet);
        next = next + 1 == mix_size ? 0 : next + 1;
        if (++since_rewind == 4096) {
            since_rewind = 0;
            std::rewind(file->stream);
        }
    }
    std::fflush(file->stream);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

// The clock as the receive loop reads it: once per datagram, converted to
// local time once a second.
LocalClock loop_clock{};

LocalTime now() {
    return local_time_of(&loop_clock, platform_wall_clock());
}

void summary(benchmark::State& state) {
    run(state, [](std::FILE* out, const PacketBuffer& p) {
        print_summary(out, p.bytes, p.length, now());
    });
}

void detail(benchmark::State& state) {
    run(state,
        [](std::FILE* out, const PacketBuffer& p) { print_detail(out, p.bytes, p.length, now()); });
}

void detail_and_dump(benchmark::State& state) {
    run(state, [](std::FILE* out, const PacketBuffer& p) {
        print_detail(out, p.bytes, p.length, now());
        print_hex_dump(out, p.bytes, p.length);
    });
}

void console_echo(benchmark::State& state) {
    run(state,
        [](std::FILE* out, const PacketBuffer& p) { print_console_echo(out, p.bytes, p.length); });
}

// What the log mode does per accepted datagram besides receiving it: the
// account into the log, one flush (one write system call), the echo to a
// second stream, flushed too.
std::FILE* echo_stream() {
    static std::FILE* const stream = std::fopen("/dev/null", "wb");
    return stream;
}

void log_mode_summary(benchmark::State& state) {
    std::FILE* echo = echo_stream();
    run(state, [echo](std::FILE* out, const PacketBuffer& p) {
        print_summary(out, p.bytes, p.length, now());
        std::fflush(out);
        print_console_echo(echo, p.bytes, p.length);
        std::fflush(echo);
    });
}

void log_mode_detail_and_dump(benchmark::State& state) {
    std::FILE* echo = echo_stream();
    run(state, [echo](std::FILE* out, const PacketBuffer& p) {
        print_detail(out, p.bytes, p.length, now());
        print_hex_dump(out, p.bytes, p.length);
        std::fflush(out);
        print_console_echo(echo, p.bytes, p.length);
        std::fflush(echo);
    });
}

// The port label alone, for the ports of the mix.
void port_label(benchmark::State& state) {
    char label[port_label_size];
    std::size_t next = 0;
    for (auto _ : state) {
        const Datagram& d = mix[next];
        format_port_label(d.destination_port, label);
        benchmark::DoNotOptimize(label);
        next = next + 1 == mix_size ? 0 : next + 1;
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}

}  // namespace

BENCHMARK(summary);
BENCHMARK(detail);
BENCHMARK(detail_and_dump);
BENCHMARK(console_echo);
BENCHMARK(log_mode_summary);
BENCHMARK(log_mode_detail_and_dump);
BENCHMARK(port_label);

BENCHMARK_MAIN();

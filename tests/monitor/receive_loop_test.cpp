// The receive loop's rules, driven by a scripted source and a clock that
// moves 1 ms with every look at the source: the hold of accounts under
// traffic the filter rejects, writing out before every wait, the nap under
// load, the console echo, and the one way out that every ending takes.
#include "monitor/receive_loop.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "support/bytes.hpp"
#include "support/text.hpp"

namespace {

using test_support::Bytes;

// The script's letters: a datagram the filter (-p 80) passes or rejects,
// none waiting, a stop signal, the end of the source, a source that fails
// or goes away.
constexpr char shown = 'm';
constexpr char rejected = 'r';
constexpr char idle = 'i';
constexpr char stop = 's';
constexpr char failed = 'f';
constexpr char gone = 'g';

struct Fake {
    std::string script;
    std::size_t step = 0;
    std::int64_t clock_ns = 0;
    int naps = 0;
    int signal = 0;
    std::uint64_t drops = 0;
    std::size_t console_room = stream_room_unlimited;
    std::FILE* accounts = nullptr;       // the stream whose bytes the source watches
    std::int64_t first_written_ns = -1;  // when its first bytes were written out
    int waits_with_accounts_held = 0;    // waits while written-out bytes lag behind
};

Fake fake;

long written_out(std::FILE* stream) {
    struct stat info {};
    return fstat(fileno(stream), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

WallClock fake_clock() {
    return WallClock{fake.clock_ns / 1'000'000'000,
                     static_cast<std::int32_t>(fake.clock_ns % 1'000'000'000)};
}

void fake_nap(int microseconds) {
    ++fake.naps;
    fake.clock_ns += std::int64_t{microseconds} * 1000;
}

int fake_stop_signal() {
    return fake.signal;
}

std::size_t fake_room(std::FILE* /*stream*/) {
    return fake.console_room;
}

const LoopSystem fake_system{fake_clock, fake_nap, fake_stop_signal, fake_room};

SourceResult fake_next(void* /*state*/, PacketBuffer* packet, Datagram* datagram, int wait_ms,
                       char* reason, std::size_t size) {
    fake.clock_ns += 1'000'000;
    const long out = written_out(fake.accounts);
    if (out > 0 && fake.first_written_ns < 0) {
        fake.first_written_ns = fake.clock_ns;
    }
    if (wait_ms != 0 && out != std::ftell(fake.accounts)) {
        ++fake.waits_with_accounts_held;
    }
    const char step = fake.step < fake.script.size() ? fake.script[fake.step++] : 'e';
    switch (step) {
        case shown:
        case rejected: {
            const std::uint16_t port = step == shown ? 80 : 81;
            *packet = test_support::received(test_support::ipv4_datagram(
                17, "10.0.0.1", "10.0.0.2", test_support::udp_datagram(5000, port, "data")));
            *datagram = Datagram{static_cast<std::uint32_t>(packet->length), false, {}};
            return SourceResult::datagram;
        }
        case idle:
            return SourceResult::idle;
        case stop:
            fake.signal = 15;
            return SourceResult::idle;
        case failed:
            std::snprintf(reason, size, "saved.pcap: record 3: truncated dump file");
            return SourceResult::failed;
        case gone:
            std::snprintf(reason, size, "the interface lo is gone");
            return SourceResult::gone;
        default:
            return SourceResult::end;
    }
}

CaptureDrops fake_drops(void* /*state*/) {
    return CaptureDrops{fake.drops, true};
}

// What a run of the loop over `script` gave.
struct LoopRun {
    LoopEnd end{};
    std::string accounts;
    std::string console;
    std::string errors;
};

std::string counts_line(int received, int shown_count, int filtered, int drops, int skipped) {
    return "pktwatch: " + std::to_string(received) + " datagrams received, " +
           std::to_string(shown_count) + " shown, " + std::to_string(filtered) +
           " left out by the filter, " + std::to_string(drops) + " dropped by the kernel, " +
           std::to_string(skipped) + " console echoes skipped\n";
}

class ReceiveLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        fake = Fake{};
        options.filter_port = 80;
    }

    void TearDown() override { std::remove(log_path); }

    // Runs the loop over `script`, the fake's other settings as they are, on
    // a console and an error stream of its own; with `log`, the accounts go
    // to a log file and the console gets echoes.
    LoopRun run(const std::string& script, bool log = false, std::FILE* accounts = nullptr) {
        std::FILE* console = test_support::temporary_stream();
        std::FILE* errors = test_support::temporary_stream();
        fake.script = script;
        start_accounts(&writer, options, Console{console, ConsoleEncoding::utf8, errors});
        if (log) {
            EXPECT_TRUE(open_log(&writer, log_path, options));
        }
        if (accounts != nullptr) {
            writer.stream = accounts;
        }
        fake.accounts = writer.stream;
        DatagramSource source{fake_next, fake_drops, nullptr, packet_buffer_size, 3};
        LoopRun result;
        result.end = run_receive_loop(&source, options, &writer, StreamKind::may_wait, fake_system);
        if (log) {
            std::fclose(writer.stream);
            result.accounts = test_support::read_file(log_path);
        } else if (accounts == nullptr) {
            result.accounts = test_support::text_of(console);
        }
        result.console = log ? test_support::text_of(console) : "";
        result.errors = test_support::text_of(errors);
        std::fclose(console);
        std::fclose(errors);
        return result;
    }

    MonitorOptions options{};
    AccountWriter writer{};
    const char* log_path = "receive_loop_test.log";
};

int count_of(const std::string& text, const std::string& needle) {
    int found = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + 1)) {
        ++found;
    }
    return found;
}

// Datagrams that keep coming but are left out by the filter still move the
// clock: an account waits about the hold limit, not until they stop.
TEST_F(ReceiveLoopTest, AnAccountIsHeldNoLongerThanTheLimitWhileRejectedDatagramsCome) {
    const LoopRun got = run(std::string(1, shown) + std::string(1999, rejected));
    EXPECT_FALSE(got.end.failed);
    ASSERT_GT(fake.first_written_ns, 0);
    EXPECT_LE(fake.first_written_ns, hold_limit_ns + 2'000'000)
        << "the account was written out after " << fake.first_written_ns / 1'000'000 << " ms";
    EXPECT_EQ(got.errors, counts_line(2000, 1, 1999, 0, 0));
}

// Before the loop waits for a datagram, every account it has is written
// out; after a group of four or more datagrams it naps first.
TEST_F(ReceiveLoopTest, WritesOutBeforeEveryWaitAndNapsAfterAGroup) {
    const struct {
        const char* script;
        int naps;
    } cases[] = {
        {"mmmi", 0},        {"mmmmi", 1}, {"mrrri", 1},   {"mmmmmimi", 1},
        {"mmmmimmmmmi", 2}, {"iiii", 0},  {"rrrrrri", 1}, {"mimimimi", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.script);
        fake = Fake{};
        const LoopRun got = run(c.script);
        EXPECT_EQ(fake.naps, c.naps);
        EXPECT_EQ(fake.waits_with_accounts_held, 0);
        EXPECT_EQ(count_of(got.accounts, "Port src->dst"), count_of(c.script, "m"));
    }
}

// In log mode the console only repeats the log: echoes it has no room for
// are skipped and counted; the log is complete either way.
TEST_F(ReceiveLoopTest, EchoesTheConsoleCannotTakeAreSkippedAndCounted) {
    for (const std::size_t room : {stream_room_unlimited, std::size_t{0}}) {
        SCOPED_TRACE(room);
        fake = Fake{};
        fake.console_room = room;
        const LoopRun got = run("mmmimm", true);
        EXPECT_EQ(count_of(got.accounts, "Port src->dst"), 5);
        const int echoed = room == 0 ? 0 : 5;
        EXPECT_EQ(count_of(got.console, "IP addr."), echoed);
        EXPECT_EQ(got.errors, counts_line(5, 5, 0, 0, 5 - echoed));
    }
}

// Every way out writes out what is pending, says why when something failed,
// and gives its counts; the result tells the status.
TEST_F(ReceiveLoopTest, EveryEndingWritesOutAndGivesTheCounts) {
    const struct {
        const char* name;
        const char* script;
        std::uint64_t count;
        bool failed;
        int signal;
        int shown;
        std::string first_line;  // before the counts; empty for none
        int received;
    } cases[] = {
        {"end of the source", "mmrm", 0, false, 0, 3, "", 4},
        {"count reached", "mmrmmm", 3, false, 0, 3, "", 4},
        {"stop signal", "mrms", 0, false, 15, 2, "", 3},
        // What waits at the stop is still shown, as much as the source can
        // hold (3 here) and the count allows.
        {"stop with datagrams waiting", "msmmrmmm", 0, false, 15, 3, "", 4},
        {"stop with the count near", "msmmmm", 2, false, 15, 2, "", 2},
        {"source failed", "mmf", 0, true, 0, 2,
         "pktwatch: saved.pcap: record 3: truncated dump file\n", 2},
        {"interface gone", "mrmg", 0, true, 0, 2, "pktwatch: the interface lo is gone\n", 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake = Fake{};
        fake.drops = 7;
        options.count = c.count;
        const LoopRun got = run(c.script);
        EXPECT_EQ(got.end.failed, c.failed);
        EXPECT_EQ(got.end.signal, c.signal);
        EXPECT_EQ(count_of(got.accounts, "Port src->dst"), c.shown);
        EXPECT_EQ(got.errors, "pktwatch: 7 datagrams dropped by the kernel (total 7)\n" +
                                  c.first_line +
                                  counts_line(c.received, c.shown, c.received - c.shown, 7, 0));
    }
}

// A write that fails ends the loop at once: one line says why, then the
// counts.
TEST_F(ReceiveLoopTest, AWriteThatFailsEndsTheLoop) {
    test_support::write_file(log_path, "");
    std::FILE* read_only = std::fopen(log_path, "rb");
    ASSERT_NE(read_only, nullptr);
    const LoopRun got = run("mmmi", false, read_only);
    std::fclose(read_only);
    EXPECT_TRUE(got.end.failed);
    EXPECT_EQ(got.errors.rfind("pktwatch: standard output: ", 0), 0u) << got.errors;
    EXPECT_EQ(count_of(got.errors, "\n"), 2) << got.errors;
    EXPECT_NE(got.errors.find(counts_line(3, 3, 0, 0, 0)), std::string::npos) << got.errors;
}

}  // namespace

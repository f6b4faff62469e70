// One arbitrary capture file, pcap or pcapng, through the monitor's own
// reading path: libpcap reading it from memory (open_capture_stream), the
// link-frame parsing, the filter and the views of the receive loop, and the
// saved capture of what was shown, read back. Checks that every read ends in
// a datagram, a skipped record, the end or an error, with the records counted
// one by one and no more of them than the file has room for; that the loop
// shows what the reader found and says so in its line of counts; that the
// text written (the accounts and the lines on standard error) holds only
// printable ASCII, tabs and line ends, each account within its views' limit;
// that every datagram shown is saved and read back whole, none skipped; and
// that every reader closes its file, a refused one at once.
#include "fuzz_entries.hpp"

#if defined(PKTWATCH_CAPTURE_FILES)

#include <sys/types.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture_file/capture_file.hpp"
#include "config/options.hpp"
#include "fuzz_support.hpp"
#include "monitor/account_writer.hpp"
#include "monitor/datagram_source.hpp"
#include "monitor/receive_loop.hpp"
#include "net/address.hpp"
#include "net/capture_filter.hpp"
#include "net/packet.hpp"

namespace {

// Input layout: one byte of choices, then the file (or the file after the
// first four bytes the choice puts before it).
//   bits 0-2  what goes before the rest: 0 nothing (the rest is the whole
//             file), 1-4 a pcap magic number (microseconds little- and
//             big-endian, nanoseconds little- and big-endian), 5 the pcapng
//             section header's block type, 6-7 nothing
//   bit 3     the detail view instead of the summary
//   bit 4     the hex dump
//   bit 5     the address filter 127.0.0.0 and the 255 addresses after it
//   bit 6     the port filter 80
constexpr std::uint8_t starts[][4] = {
    {0xD4, 0xC3, 0xB2, 0xA1}, {0xA1, 0xB2, 0xC3, 0xD4}, {0x4D, 0x3C, 0xB2, 0xA1},
    {0xA1, 0xB2, 0x3C, 0x4D}, {0x0A, 0x0D, 0x0D, 0x0A},
};

// No record takes fewer bytes of the file: a pcapng block's type and two
// lengths (a pcap record's header alone is 16).
constexpr std::size_t smallest_record = 12;

constexpr const char* file_name = "fuzz.pcap";
constexpr const char* saved_name = "saved.pcap";

bool printable(const std::string& text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (!((u >= 0x20 && u <= 0x7E) || u == '\n' || u == '\t')) {
            return false;
        }
    }
    return true;
}

// Streams reused by every input, rewound before each: the accounts and the
// lines on standard error.
std::FILE* reused_stream() {
    std::FILE* stream = test_support::temporary_stream();
    FUZZ_CHECK(stream != nullptr);
    return stream;
}

// What was written to `stream` since it was rewound.
std::string written_since_rewind(std::FILE* stream) {
    FUZZ_CHECK(std::fflush(stream) == 0);
    const long size = std::ftell(stream);
    FUZZ_CHECK(size >= 0);
    std::string text(static_cast<std::size_t>(size), '\0');
    std::rewind(stream);
    FUZZ_CHECK(std::fread(text.data(), 1, text.size(), stream) == text.size());
    return text;
}

// A file in memory that tells when it is closed (fmemopen cannot), so that
// the check that a reader closed its file can fail.
struct MemoryFile {
    const char* bytes;
    std::size_t size;
    std::size_t at;
    bool closed;
};

ssize_t read_memory(void* cookie, char* buffer, std::size_t size) {
    MemoryFile* const file = static_cast<MemoryFile*>(cookie);
    const std::size_t count = std::min(size, file->size - file->at);
    if (count > 0) {
        std::memcpy(buffer, file->bytes + file->at, count);
        file->at += count;
    }
    return static_cast<ssize_t>(count);
}

int close_memory(void* cookie) {
    static_cast<MemoryFile*>(cookie)->closed = true;
    return 0;
}

// A reader on `bytes`, as the monitor opens a file: false, after the checks
// on its reason and that the file was closed, when libpcap does not take
// them as a capture.
bool open_in_memory(CaptureFileReader* reader, MemoryFile* memory, const std::vector<char>& bytes,
                    const char* name) {
    *memory = MemoryFile{bytes.data(), bytes.size(), 0, false};
    std::FILE* file = fopencookie(memory, "rb", {read_memory, nullptr, nullptr, close_memory});
    FUZZ_CHECK(file != nullptr);
    char reason[256] = {};
    if (open_capture_stream(reader, file, name, reason, sizeof reason)) {
        return true;
    }
    FUZZ_CHECK(reader->handle == nullptr && memory->closed);
    FUZZ_CHECK(reason[0] != '\0' && printable(reason));
    return false;
}

void close_reader(CaptureFileReader* reader, const MemoryFile& memory) {
    close_capture_file(reader);
    FUZZ_CHECK(reader->handle == nullptr && memory.closed);
}

struct FileRead {
    bool opened = false;
    bool failed = false;             // it ended in an error, not at its end
    std::uint64_t datagrams = 0;     // records with an IPv4 datagram
    std::vector<std::string> shown;  // those the filter passes, as received
};

// Every record of `bytes`, read as the datagram source reads them, with the
// buffer cleared as the loop clears it.
FileRead read_records(const std::vector<char>& bytes, const CaptureFilter& filter) {
    FileRead got;
    CaptureFileReader reader{};
    MemoryFile memory{};
    got.opened = open_in_memory(&reader, &memory, bytes, file_name);
    if (!got.opened) {
        return got;
    }
    const std::uint64_t most_records = bytes.size() / smallest_record;
    static PacketBuffer packet;
    for (bool reading = true; reading;) {
        std::memset(packet.bytes, 0, sizeof packet.bytes);
        packet.length = 0;
        WallClock stamp{};
        char reason[256] = {};
        const std::uint64_t before = reader.record;
        switch (read_capture_file(&reader, &packet, &stamp, reason, sizeof reason)) {
            case CaptureFileRead::datagram:
                FUZZ_CHECK(reader.record == before + 1);
                FUZZ_CHECK(packet.length >= 1 && packet.length <= packet_buffer_size);
                FUZZ_CHECK(reader.original_length >= static_cast<std::uint32_t>(packet.length));
                FUZZ_CHECK(stamp.nanoseconds >= 0 && stamp.nanoseconds < 1'000'000'000);
                ++got.datagrams;
                if (packet_passes_filter(filter, packet.bytes, packet.length)) {
                    got.shown.emplace_back(reinterpret_cast<const char*>(packet.bytes),
                                           static_cast<std::size_t>(packet.length));
                }
                break;
            case CaptureFileRead::skipped:
                FUZZ_CHECK(reader.record == before + 1);
                break;
            case CaptureFileRead::end:
                FUZZ_CHECK(reader.record == before);
                reading = false;
                break;
            case CaptureFileRead::error: {
                FUZZ_CHECK(reader.record == before);
                const std::string named = "record " + std::to_string(before + 1) + ": ";
                FUZZ_CHECK(std::strncmp(reason, named.c_str(), named.size()) == 0);
                FUZZ_CHECK(printable(reason));
                got.failed = true;
                reading = false;
                break;
            }
            default:  // a read that is neither datagram, skipped, end nor error
                FUZZ_CHECK(false);
        }
        FUZZ_CHECK(reader.record <= most_records);
    }
    close_reader(&reader, memory);
    return got;
}

// The loop's system: a clock that moves a millisecond a reading, no nap, no
// signal, a console that takes everything.
std::int64_t clock_ms = 0;
WallClock moving_clock() {
    ++clock_ms;
    return WallClock{clock_ms / 1000, static_cast<std::int32_t>(clock_ms % 1000 * 1'000'000)};
}
void no_nap(int) {}
int no_signal() {
    return 0;
}
std::size_t all_room(std::FILE*) {
    return stream_room_unlimited;
}
constexpr LoopSystem fuzz_system{moving_clock, no_nap, no_signal, all_room};

// The counts line the loop ends with, for what the reader found.
std::string counts_line(const FileRead& read) {
    return "pktwatch: " + std::to_string(read.datagrams) + " datagrams received, " +
           std::to_string(read.shown.size()) + " shown, " +
           std::to_string(read.datagrams - read.shown.size()) +
           " left out by the filter, 0 dropped by the kernel, 0 console echoes skipped\n";
}

}  // namespace

int fuzz_capture_file_one(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t choice = size > 0 ? data[0] : 0;
    static std::vector<char> file;
    file.clear();
    const unsigned start = choice & 7u;
    if (start >= 1 && start <= 5) {
        file.insert(file.end(), starts[start - 1], starts[start - 1] + 4);
    }
    if (size > 1) {
        file.insert(file.end(), data + 1, data + size);
    }

    MonitorOptions options{};
    options.show_detail = (choice >> 3) & 1u;
    options.show_dump = (choice >> 4) & 1u;
    if ((choice & 0x20u) != 0) {
        options.filter_address = network_order_address(0x7F000000);
        options.filter_width = 255;
    }
    if ((choice & 0x40u) != 0) {
        options.filter_port = 80;
    }

    const FileRead read = read_records(file, capture_filter_of(options));
    if (!read.opened) {
        return 0;
    }

    // The same file through the receive loop, the shown datagrams saved.
    static std::FILE* const accounts = reused_stream();
    static std::FILE* const errors = reused_stream();
    std::rewind(accounts);
    std::rewind(errors);
    static AccountWriter writer;
    start_accounts(&writer, options, Console{accounts, ConsoleEncoding::shift_jis, errors});
    char* saved_bytes = nullptr;
    std::size_t saved_size = 0;
    std::FILE* saved = open_memstream(&saved_bytes, &saved_size);
    FUZZ_CHECK(saved != nullptr);
    FUZZ_CHECK(open_saved_capture_on(&writer, saved, saved_name));

    CaptureFileReader reader{};
    MemoryFile memory{};
    FUZZ_CHECK(open_in_memory(&reader, &memory, file, file_name));
    DatagramSource source = file_source(&reader);
    clock_ms = 0;
    const LoopEnd end =
        run_receive_loop(&source, options, &writer, StreamKind::never_waits, fuzz_system);
    close_reader(&reader, memory);
    FUZZ_CHECK(close_saved_capture(&writer));

    FUZZ_CHECK(end.signal == 0 && end.failed == read.failed);
    FUZZ_CHECK(writer.written == read.shown.size());
    const std::string text = written_since_rewind(accounts);
    FUZZ_CHECK(text.size() <= read.shown.size() * writer.limit);
    FUZZ_CHECK(printable(text));
    const std::string said = written_since_rewind(errors);
    FUZZ_CHECK(printable(said));
    const std::string counts = counts_line(read);
    FUZZ_CHECK(said.size() >= counts.size() &&
               said.compare(said.size() - counts.size(), counts.size(), counts) == 0);
    const std::string failure = said.substr(0, said.size() - counts.size());
    if (read.failed) {
        const std::string named = std::string("pktwatch: ") + file_name + ": record ";
        FUZZ_CHECK(failure.compare(0, named.size(), named) == 0);
        FUZZ_CHECK(failure.find('\n') == failure.size() - 1);
    } else {
        FUZZ_CHECK(failure.empty());
    }

    // What was saved reads back as what was shown, record for record.
    std::vector<char> saved_file(saved_bytes, saved_bytes + saved_size);
    std::free(saved_bytes);
    FUZZ_CHECK(open_in_memory(&reader, &memory, saved_file, saved_name));
    FUZZ_CHECK(reader.link_type == 228);
    static PacketBuffer packet;
    for (const std::string& datagram : read.shown) {
        WallClock stamp{};
        char reason[256] = {};
        FUZZ_CHECK(read_capture_file(&reader, &packet, &stamp, reason, sizeof reason) ==
                   CaptureFileRead::datagram);
        FUZZ_CHECK(static_cast<std::size_t>(packet.length) == datagram.size() &&
                   std::memcmp(packet.bytes, datagram.data(), datagram.size()) == 0);
    }
    WallClock stamp{};
    char reason[256] = {};
    FUZZ_CHECK(read_capture_file(&reader, &packet, &stamp, reason, sizeof reason) ==
               CaptureFileRead::end);
    close_reader(&reader, memory);
    return 0;
}

#else

// Without libpcap (the Windows build) no capture file is read: nothing to run.
int fuzz_capture_file_one(const std::uint8_t*, std::size_t) {
    return 0;
}

#endif

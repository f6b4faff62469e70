// Capture files through libpcap: hand-written pcap and pcapng files of every
// link type, cut and corrupt ones, and saved datagrams read back (and by
// tcpdump, when it is installed).
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "capture_file/capture_file.hpp"
#include "monitor/receive_loop.hpp"
#include "support/text.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

void put16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Bytes& out, std::uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

Bytes join(Bytes head, const Bytes& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A UDP datagram from 127.0.0.1:12345 to 127.0.0.2:40000 of `length` bytes.
Bytes udp_datagram(std::size_t length) {
    Bytes d = {0x45, 0x00, 0,   0, 0x12, 0x34, 0x40, 0x00, 64,   17,   0, 0, 127, 0,
               0,    1,    127, 0, 0,    2,    0x30, 0x39, 0x9C, 0x40, 0, 0, 0,   0};
    const std::size_t udp_length = length - 20;
    d[2] = static_cast<std::uint8_t>(length >> 8);
    d[3] = static_cast<std::uint8_t>(length);
    d[24] = static_cast<std::uint8_t>(udp_length >> 8);
    d[25] = static_cast<std::uint8_t>(udp_length);
    for (std::size_t i = d.size(); i < length; ++i) {
        d.push_back(static_cast<std::uint8_t>(i * 7));
    }
    return d;
}

const Bytes datagram = udp_datagram(40);
const Bytes ipv6_start = {0x60, 0x00, 0x00, 0x00, 0x00, 0x00, 0x3B, 0x40};

constexpr std::uint32_t first_second = 1700000000;

struct Record {
    Bytes frame;
    std::uint32_t original_length;  // 0: the frame's size
};

// A little-endian pcap file; record i is stamped first_second + i and
// 123456 microseconds (or nanoseconds 123456789 in a nanosecond file).
Bytes pcap_file(std::uint32_t link_type, const std::vector<Record>& records, bool nano = false) {
    Bytes file;
    put32(file, nano ? 0xA1B23C4D : 0xA1B2C3D4);
    put16(file, 2);
    put16(file, 4);
    put32(file, 0);
    put32(file, 0);
    put32(file, 65535);
    put32(file, link_type);
    std::uint32_t second = first_second;
    for (const Record& r : records) {
        const auto size = static_cast<std::uint32_t>(r.frame.size());
        put32(file, second++);
        put32(file, nano ? 123456789 : 123456);
        put32(file, size);
        put32(file, r.original_length != 0 ? r.original_length : size);
        file.insert(file.end(), r.frame.begin(), r.frame.end());
    }
    return file;
}

// pcapng blocks, little-endian: a section header, interface descriptions and
// enhanced packet blocks (microsecond time stamps).
Bytes pcapng_block(std::uint32_t type, const Bytes& body) {
    Bytes padded = body;
    padded.resize((body.size() + 3) / 4 * 4, 0);
    const auto total = static_cast<std::uint32_t>(padded.size() + 12);
    Bytes block;
    put32(block, type);
    put32(block, total);
    block.insert(block.end(), padded.begin(), padded.end());
    put32(block, total);
    return block;
}

Bytes pcapng_section() {
    Bytes body;
    put32(body, 0x1A2B3C4D);
    put16(body, 1);
    put16(body, 0);
    put32(body, 0xFFFFFFFF);
    put32(body, 0xFFFFFFFF);
    return pcapng_block(0x0A0D0D0A, body);
}

Bytes pcapng_interface(std::uint16_t link_type) {
    Bytes body;
    put16(body, link_type);
    put16(body, 0);
    put32(body, 65535);
    return pcapng_block(1, body);
}

Bytes pcapng_packet(std::uint32_t interface, std::uint32_t second, const Bytes& frame) {
    const std::uint64_t stamp = std::uint64_t{second} * 1000000 + 123456;
    Bytes body;
    put32(body, interface);
    put32(body, static_cast<std::uint32_t>(stamp >> 32));
    put32(body, static_cast<std::uint32_t>(stamp));
    put32(body, static_cast<std::uint32_t>(frame.size()));
    put32(body, static_cast<std::uint32_t>(frame.size()));
    return pcapng_block(6, join(body, frame));
}

Bytes ethernet_header(std::uint16_t type) {
    Bytes h(12, 0xAA);
    h.push_back(static_cast<std::uint8_t>(type >> 8));
    h.push_back(static_cast<std::uint8_t>(type));
    return h;
}

class CaptureFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/pktwatch_capfile_XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string write(const char* name, const Bytes& bytes) {
        const std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string dir;
};

// What reading a whole file gave: one letter per record (d datagram, s
// skipped), the datagrams, and the reason of an error that ended it.
struct FileContents {
    int link_type = -1;
    std::string results;
    std::vector<Bytes> datagrams;
    std::vector<WallClock> stamps;
    std::vector<std::uint32_t> original_lengths;
    std::string error;
};

FileContents read_all(const std::string& path) {
    FileContents got;
    CaptureFileReader reader{};
    char reason[256] = {};
    if (!open_capture_file(&reader, path.c_str(), reason, sizeof reason)) {
        got.error = std::string("open: ") + reason;
        return got;
    }
    got.link_type = reader.link_type;
    for (int i = 0; i < 100; ++i) {
        PacketBuffer packet{};
        WallClock stamp{};
        const CaptureFileRead r =
            read_capture_file(&reader, &packet, &stamp, reason, sizeof reason);
        if (r == CaptureFileRead::end) {
            break;
        }
        if (r == CaptureFileRead::error) {
            got.error = reason;
            break;
        }
        got.results += r == CaptureFileRead::datagram ? 'd' : 's';
        if (r == CaptureFileRead::datagram) {
            got.datagrams.emplace_back(packet.bytes, packet.bytes + packet.length);
            got.stamps.push_back(stamp);
            got.original_lengths.push_back(reader.original_length);
        }
    }
    close_capture_file(&reader);
    return got;
}

struct LinkCase {
    const char* name;
    std::uint32_t stored_link_type;
    int link_type;  // as libpcap reports it
    Bytes header;   // before the IPv4 datagram
    Bytes other;    // a frame without one
};

// Each file: an IPv4 frame, then a frame of another protocol.
TEST_F(CaptureFileTest, ReadsTheDatagramsOfEveryLinkType) {
    const LinkCase cases[] = {
        {"raw", 101, 12, {}, ipv6_start},
        {"ipv4", 228, 228, {}, {}},
        {"ethernet", 1, 1, ethernet_header(0x0800), join(ethernet_header(0x86DD), ipv6_start)},
        {"ethernet_8021q", 1, 1, join(Bytes(12, 0xAA), {0x81, 0x00, 0, 5, 0x08, 0x00}),
         join(ethernet_header(0x0806), datagram)},
        {"ethernet_8021ad_8021q", 1, 1,
         join(Bytes(12, 0xAA), {0x88, 0xA8, 0, 7, 0x81, 0x00, 0, 5, 0x08, 0x00}),
         join(Bytes(12, 0xAA), {0x88, 0xA8, 0, 7, 0x81, 0x00, 0, 5, 0x86, 0xDD})},
        {"sll", 113, 113, join(Bytes(14, 0), {0x08, 0x00}), join(Bytes(14, 0), {0x86, 0xDD})},
        {"sll2", 276, 276, join({0x08, 0x00}, Bytes(18, 0)), join({0x86, 0xDD}, Bytes(18, 0))},
        {"null_little_endian", 0, 0, {2, 0, 0, 0}, join({30, 0, 0, 0}, ipv6_start)},
        {"null_big_endian", 0, 0, {0, 0, 0, 2}, join({0, 0, 0, 30}, ipv6_start)},
        {"loop", 108, 108, {0, 0, 0, 2}, join({0, 0, 0, 24}, ipv6_start)},
    };
    for (const LinkCase& c : cases) {
        const std::string path = write(
            c.name, pcap_file(c.stored_link_type, {{join(c.header, datagram), 0}, {c.other, 0}}));
        const FileContents got = read_all(path);
        EXPECT_EQ(got.link_type, c.link_type) << c.name;
        EXPECT_EQ(got.results, "ds") << c.name;
        EXPECT_EQ(got.error, "") << c.name;
        ASSERT_EQ(got.datagrams.size(), 1u) << c.name;
        EXPECT_EQ(got.datagrams[0], datagram) << c.name;
        EXPECT_EQ(got.original_lengths[0], datagram.size()) << c.name;
        EXPECT_EQ(got.stamps[0].seconds, first_second) << c.name;
        EXPECT_EQ(got.stamps[0].nanoseconds, 123456000) << c.name;
    }

    // A link type the program cannot take apart: every frame skipped.
    const FileContents unsupported =
        read_all(write("unsupported", pcap_file(147, {{datagram, 0}, {datagram, 0}})));
    EXPECT_EQ(unsupported.link_type, 147);
    EXPECT_EQ(unsupported.results, "ss");
    EXPECT_EQ(unsupported.error, "");
}

// Long datagrams are cut to the buffer, short records give what they hold,
// and the bytes past the length are left alone.
TEST_F(CaptureFileTest, CutsLongDatagramsAndKeepsShortRecords) {
    const Bytes big = udp_datagram(2100);
    const Bytes short_record(datagram.begin(), datagram.begin() + 10);
    const std::string path =
        write("cuts", pcap_file(228, {{big, 0}, {short_record, 40}, {{0x45}, 0}}, true));

    CaptureFileReader reader{};
    char reason[256] = {};
    ASSERT_TRUE(open_capture_file(&reader, path.c_str(), reason, sizeof reason)) << reason;
    PacketBuffer packet{};
    WallClock stamp{};
    ASSERT_EQ(read_capture_file(&reader, &packet, &stamp, reason, sizeof reason),
              CaptureFileRead::datagram);
    EXPECT_EQ(packet.length, 2000);
    EXPECT_EQ(Bytes(packet.bytes, packet.bytes + 2000), Bytes(big.begin(), big.begin() + 2000));
    EXPECT_EQ(reader.original_length, 2100u);
    EXPECT_EQ(stamp.nanoseconds, 123456789);

    std::memset(packet.bytes, 0xEE, sizeof packet.bytes);
    ASSERT_EQ(read_capture_file(&reader, &packet, &stamp, reason, sizeof reason),
              CaptureFileRead::datagram);
    EXPECT_EQ(packet.length, 10);
    EXPECT_EQ(Bytes(packet.bytes, packet.bytes + 10), short_record);
    EXPECT_EQ(packet.bytes[10], 0xEE);
    EXPECT_EQ(reader.original_length, 40u);
    EXPECT_EQ(stamp.seconds, first_second + 1);

    ASSERT_EQ(read_capture_file(&reader, &packet, &stamp, reason, sizeof reason),
              CaptureFileRead::datagram);
    EXPECT_EQ(packet.length, 1);
    EXPECT_EQ(reader.record, 3u);
    EXPECT_EQ(read_capture_file(&reader, &packet, &stamp, reason, sizeof reason),
              CaptureFileRead::end);
    close_capture_file(&reader);
}

// libpcap reads one link type per file: a pcapng interface of another type
// ends the reading there, with the record it was met at.
TEST_F(CaptureFileTest, ReadsPcapngInterfacesUpToOneOfAnotherLinkType) {
    const Bytes ethernet_frame = join(ethernet_header(0x0800), datagram);
    const Bytes file = join(
        join(join(pcapng_section(), pcapng_interface(1)), pcapng_interface(1)),
        join(join(pcapng_packet(0, first_second, ethernet_frame),
                  pcapng_packet(1, first_second + 1, join(ethernet_header(0x86DD), ipv6_start))),
             join(pcapng_packet(1, first_second + 2, ethernet_frame),
                  join(pcapng_interface(101), pcapng_packet(2, first_second + 3, datagram)))));
    const FileContents got = read_all(write("two_interfaces.pcapng", file));
    EXPECT_EQ(got.link_type, 1);
    EXPECT_EQ(got.results, "dsd");
    ASSERT_EQ(got.datagrams.size(), 2u);
    EXPECT_EQ(got.datagrams[1], datagram);
    EXPECT_EQ(got.stamps[1].seconds, first_second + 2);
    EXPECT_EQ(got.stamps[1].nanoseconds, 123456000);
    EXPECT_EQ(got.error.rfind("record 4: an interface has a type 101 different", 0), 0u)
        << got.error;
}

TEST_F(CaptureFileTest, NamesTheRecordOfACutOrCorruptFile) {
    const Bytes whole = pcap_file(228, {{datagram, 0}, {datagram, 0}});
    Bytes huge_length = whole;
    const std::size_t second_record = 24 + 16 + datagram.size();
    huge_length[second_record + 8] = 0xF0;  // caplen 0xF00000F0
    huge_length[second_record + 11] = 0xF0;
    const struct {
        const char* name;
        Bytes file;
        const char* error;  // how the reason starts (libpcap's wording follows)
    } cases[] = {
        {"cut_in_data", Bytes(whole.begin(), whole.end() - 5), "record 2: truncated dump file"},
        {"cut_in_header",
         Bytes(whole.begin(), whole.begin() + static_cast<long>(second_record) + 6),
         "record 2: truncated dump file"},
        {"huge_capture_length", huge_length, "record 2: invalid packet capture length 4026532080"},
        {"not_a_capture", {'h', 'e', 'l', 'l', 'o', '\n', 0, 0}, "open: unknown file format"},
    };
    for (const auto& c : cases) {
        const FileContents got = read_all(write(c.name, c.file));
        EXPECT_EQ(got.error.rfind(c.error, 0), 0u) << c.name << ": " << got.error;
        EXPECT_EQ(got.results, c.error[0] == 'r' ? "d" : "") << c.name;
    }
    // The caller names the file; the reason does not name it again.
    EXPECT_EQ(read_all(dir + "/missing").error, std::string("open: ") + std::strerror(ENOENT));
}

// Saved datagrams read back as they were, and tcpdump reads the file cleanly.
TEST_F(CaptureFileTest, SavedDatagramsReadBack) {
    const std::string path = dir + "/saved.pcap";
    const Bytes long_datagram = udp_datagram(2100);
    // Shown live because its EtherType said IPv4, whatever its version field.
    Bytes version_6 = datagram;
    version_6[0] = 0x65;
    const struct {
        Bytes bytes;
        std::uint32_t original_length;
        WallClock stamp;
    } saved[] = {
        {datagram, 40, {first_second, 999999999}},
        {udp_datagram(300), 0, {first_second + 1, 5000}},
        {Bytes(long_datagram.begin(), long_datagram.begin() + 2000), 2100, {first_second + 2, 0}},
        {version_6, 40, {first_second + 3, 0}},
    };
    CaptureFileWriter writer{};
    char reason[256] = {};
    ASSERT_TRUE(open_save_file(&writer, std::fopen(path.c_str(), "wb"), reason, sizeof reason))
        << reason;
    for (const auto& s : saved) {
        PacketBuffer packet{};
        std::memcpy(packet.bytes, s.bytes.data(), s.bytes.size());
        packet.length = static_cast<int>(s.bytes.size());
        EXPECT_TRUE(save_datagram(&writer, packet, s.original_length, s.stamp));
    }
    EXPECT_TRUE(flush_save_file(&writer));
    EXPECT_TRUE(close_save_file(&writer));

    const FileContents got = read_all(path);
    EXPECT_EQ(got.link_type, 228);
    EXPECT_EQ(got.error, "");
    EXPECT_EQ(got.results, "dddd");
    ASSERT_EQ(got.datagrams.size(), std::size(saved));
    for (std::size_t i = 0; i < std::size(saved); ++i) {
        EXPECT_EQ(got.datagrams[i], saved[i].bytes) << i;
        EXPECT_EQ(got.original_lengths[i],
                  std::max<std::uint32_t>(saved[i].original_length,
                                          static_cast<std::uint32_t>(saved[i].bytes.size())))
            << i;
        EXPECT_EQ(got.stamps[i].seconds, saved[i].stamp.seconds) << i;
        EXPECT_EQ(got.stamps[i].nanoseconds, saved[i].stamp.nanoseconds / 1000 * 1000) << i;
    }

    if (std::system("command -v tcpdump >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tcpdump is not installed: the file was not checked with it";
    }
    const std::string out = dir + "/tcpdump.out";
    const std::string err = dir + "/tcpdump.err";
    const std::string command = "tcpdump -nn -r '" + path + "' >'" + out + "' 2>'" + err + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
    std::stringstream printed;
    printed << std::ifstream(out).rdbuf();
    std::stringstream warned;
    warned << std::ifstream(err).rdbuf();
    std::vector<std::string> lines;
    for (std::string line; std::getline(printed, line);) {
        lines.push_back(line);
    }
    ASSERT_EQ(lines.size(), std::size(saved)) << printed.str();
    EXPECT_NE(lines[0].find("127.0.0.1.12345 > 127.0.0.2.40000: UDP, length 12"), std::string::npos)
        << lines[0];
    // tcpdump names the file it reads on standard error; nothing else.
    std::string line;
    std::getline(warned, line);
    EXPECT_EQ(line.rfind("reading from file ", 0), 0u) << warned.str();
    EXPECT_FALSE(std::getline(warned, line)) << warned.str();
}

TEST_F(CaptureFileTest, SayWhenTheSaveFileCannotBeWritten) {
    char reason[256] = {};
    CaptureFileWriter writer{};
    // Read-only: libpcap cannot write the file header (and closes the file).
    const std::string read_only = write("read_only", {});
    EXPECT_FALSE(
        open_save_file(&writer, std::fopen(read_only.c_str(), "rb"), reason, sizeof reason));
    EXPECT_EQ(std::string(reason).rfind("Can't write to stream", 0), 0u) << reason;

    // A full device: the header and the datagram sit in the buffer until the
    // flush fails.
    std::FILE* full = std::fopen("/dev/full", "wb");
    ASSERT_NE(full, nullptr);
    ASSERT_TRUE(open_save_file(&writer, full, reason, sizeof reason)) << reason;
    PacketBuffer packet{};
    packet.length = 20;
    save_datagram(&writer, packet, 20, WallClock{first_second, 0});
    EXPECT_FALSE(flush_save_file(&writer));
    EXPECT_FALSE(close_save_file(&writer));
}

// The monitor over a capture file: records without an IPv4 datagram are
// passed over, and the file's end, or a record cut short, ends the loop with
// its counts (after the line naming the record).
TEST_F(CaptureFileTest, TheMonitorReadsAFileToItsEndOrItsBadRecord) {
    const Bytes ipv4 = join(ethernet_header(0x0800), datagram);
    const Bytes whole =
        pcap_file(1, {{ipv4, 0}, {join(ethernet_header(0x86DD), ipv6_start), 0}, {ipv4, 0}});
    const struct {
        const char* name;
        Bytes file;
        bool failed;
        const char* failure;  // how the line before the counts starts after the name
        int shown;
    } cases[] = {
        {"whole", whole, false, nullptr, 2},
        {"cut", Bytes(whole.begin(), whole.end() - 5), true, ": record 3: truncated dump file", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = write(c.name, c.file);
        CaptureFileReader reader{};
        char reason[256] = {};
        ASSERT_TRUE(open_capture_file(&reader, path.c_str(), reason, sizeof reason)) << reason;
        std::FILE* accounts = test_support::temporary_stream();
        std::FILE* errors = test_support::temporary_stream();
        MonitorOptions options{};
        static AccountWriter writer;
        start_accounts(&writer, options, Console{accounts, ConsoleEncoding::utf8, errors});
        DatagramSource source = file_source(&reader);
        EXPECT_EQ(run_receive_loop(&source, options, &writer, StreamKind::never_waits).failed,
                  c.failed);
        close_capture_file(&reader);
        const std::string text = test_support::text_of(accounts);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 * c.shown) << text;
        const std::string said = test_support::text_of(errors);
        const std::string counts = "pktwatch: " + std::to_string(c.shown) +
                                   " datagrams received, " + std::to_string(c.shown) +
                                   " shown, 0 left out by the filter, 0 dropped by the kernel, 0 "
                                   "console echoes skipped\n";
        if (c.failure == nullptr) {
            EXPECT_EQ(said, counts);
        } else {
            EXPECT_EQ(said.rfind("pktwatch: " + path + c.failure, 0), 0u) << said;
            EXPECT_EQ(said.substr(said.find('\n') + 1), counts) << said;
        }
        std::fclose(accounts);
        std::fclose(errors);
    }
}

}  // namespace

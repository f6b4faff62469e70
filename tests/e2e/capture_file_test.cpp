// Capture files end to end: datagrams with IP options shown live with the
// right ports and kept with --save, then the saved file rendered again with
// --read into the same accounts, and read by a reader that is not ours.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace {

using e2e::Bytes;

// The datagram with four bytes of IP options (NOP, NOP, NOP, end of list)
// after its 20-byte header: header length 24, total length and checksum
// made again.
Bytes with_options(const Bytes& datagram) {
    Bytes bytes(datagram.begin(), datagram.begin() + 20);
    const Bytes options{1, 1, 1, 0};
    bytes.insert(bytes.end(), options.begin(), options.end());
    bytes.insert(bytes.end(), datagram.begin() + 20, datagram.end());
    bytes[0] = 0x46;
    e2e::put_be16(bytes, 2, static_cast<std::uint16_t>(bytes.size()));
    e2e::put_be16(bytes, 10, test_support::ipv4_header_checksum(bytes.data(), 24));
    return bytes;
}

// What follows the options report in a log.
std::string accounts_of(const std::string& log) {
    const std::string last_line = "Filtering port       80\n";
    const auto at = log.find(last_line);
    return at == std::string::npos ? "no options report in: " + log
                                   : log.substr(at + last_line.size());
}

TEST(CaptureFileEndToEnd, OptionsShowTheirPortsLiveAndTheSavedFileRendersTheSame) {
    E2E_SKIP_UNLESS_CAPTURE_WORKS();
    const std::string dir = e2e::make_temp_dir();
    const std::string live_log = dir + "/live.log";
    const std::string saved = dir + "/saved.pcap";
    const std::string net = "127.78.9.";
    const std::vector<Bytes> shown{
        with_options(e2e::ipv4_datagram(6, (net + "1").c_str(), (net + "2").c_str(),
                                        e2e::tcp_segment(1030, 80, 1, 0, 0x04))),
        with_options(e2e::ipv4_datagram(17, (net + "1").c_str(), (net + "2").c_str(),
                                        e2e::udp_datagram(5000, 80, "options"))),
    };
    // Its option bytes, read as ports at offset 20, are not 80 either.
    const Bytes other = with_options(e2e::ipv4_datagram(
        17, (net + "1").c_str(), (net + "2").c_str(), e2e::udp_datagram(5000, 81, "not 80")));

    // -p 80 through the kernel prefilter and the monitor's own filter;
    // --count ends the run once both are written.
    e2e::Monitor live = e2e::start_monitor(
        dir, {"-p", "80", "-f", live_log, "--save", saved, "--count", "2", "127.0.0.1"});
    ASSERT_TRUE(e2e::wait_for_listening(live)) << e2e::read_file(live.err_path);
    // The saved file has its header (24 bytes) before any datagram came.
    ASSERT_TRUE(e2e::wait_for_size(saved, 24)) << e2e::read_file(live.err_path);
    EXPECT_EQ(std::filesystem::file_size(saved), 24u);
    std::vector<int> holds;
    e2e::hold_destinations(holds, {shown[0], shown[1], other});
    e2e::send_datagrams({shown[0], other, shown[1]});
    EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(live)), 0) << e2e::read_file(live.err_path);
    e2e::release_holds(holds);
    const std::string live_accounts = accounts_of(e2e::read_file(live_log));
    EXPECT_EQ(e2e::mask_times(live_accounts),
              e2e::mask_times(e2e::rendered(shown, {e2e::summary})));
    EXPECT_NE(live_accounts.find("TCP 127.78.9.1:iad1(1030) -[44bytes]-> 127.78.9.2:http(80)"),
              std::string::npos)
        << live_accounts;

    // The saved file through the same views: the same accounts, time stamps
    // and all, without a socket.
    const std::string read_log = dir + "/read.log";
    e2e::Monitor reading = e2e::start_monitor(dir, {"-p", "80", "-f", read_log, "--read", saved});
    EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(reading)), 0) << e2e::read_file(reading.err_path);
    EXPECT_EQ(accounts_of(e2e::read_file(read_log)), live_accounts);
    EXPECT_EQ(e2e::read_file(reading.err_path),
              "pktwatch: 2 datagrams received, 2 shown, 0 left out by the filter, 0 dropped by "
              "the kernel, 0 console echoes skipped\n");

    // A reader that is not ours counts the same datagrams, without a warning.
    if (std::system("command -v tcpdump >/dev/null 2>&1") == 0) {
        const std::string lines = dir + "/tcpdump.txt";
        const std::string errors = dir + "/tcpdump.err";
        const std::string command = "tcpdump -nn -r " + saved + " >" + lines + " 2>" + errors;
        EXPECT_EQ(std::system(command.c_str()), 0);
        const std::string text = e2e::read_file(lines);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << text;
        EXPECT_EQ(e2e::read_file(errors).find("warning"), std::string::npos)
            << e2e::read_file(errors);
    } else {
        std::printf("tcpdump is not installed: the outside reader's check is skipped\n");
    }
    std::filesystem::remove_all(dir);
}

// A capture file of a link type the program does not take apart: one line
// naming the file and the link type, status 255 (not a silent end).
TEST(CaptureFileEndToEnd, UnsupportedLinkTypeEndsWithALineAndStatus255) {
    const std::string dir = e2e::make_temp_dir();
    const std::string file = dir + "/other.pcap";
    // A pcap file header (little-endian, version 2.4) of link type 147.
    const unsigned char header[24] = {0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0,   0, 0, 0,
                                      0,    0,    0,    0,    0, 0, 1, 0, 147, 0, 0, 0};
    e2e::write_file(file, std::string(reinterpret_cast<const char*>(header), sizeof header));
    e2e::Monitor reading = e2e::start_monitor(dir, {"--read", file});
    EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(reading)), 255);
    const std::string err = e2e::read_file(reading.err_path);
    EXPECT_EQ(err.rfind("pktwatch: " + file + ": link type 147 is not one", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    std::filesystem::remove_all(dir);
}

// An output is never the file being read, nor the other output: the monitor
// refuses it with one line, status 255, and leaves that file as it was.
TEST(CaptureFileEndToEnd, AnOutputThatIsAnInputOrTheOtherOutputIsRefused) {
    const std::string dir = e2e::make_temp_dir();
    const std::string input = dir + "/input.pcap";
    const std::string log = dir + "/pktwatch.log";
    // A pcap file header of raw IPv4 records (LINKTYPE_IPV4), and no record.
    const unsigned char header[24] = {0xD4, 0xC3, 0xB2, 0xA1, 2, 0, 4, 0, 0,   0, 0, 0,
                                      0,    0,    0,    0,    0, 0, 1, 0, 228, 0, 0, 0};
    const std::string capture(reinterpret_cast<const char*>(header), sizeof header);
    const struct {
        const char* name;
        std::vector<std::string> arguments;
        std::string line;
    } cases[] = {
        {"log_is_the_input",
         {"-f", dir + "/./input.pcap", "--read", input},
         "log file " + dir + "/./input.pcap: is the capture file being read as well"},
        {"save_is_the_input",
         {"--save", input, "--read", input},
         "capture file " + input + ": is the capture file being read as well"},
        {"save_is_the_log",
         {"-f", log, "--save", log, "--read", input},
         "capture file " + log + ": is the log as well"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        e2e::write_file(input, capture);
        e2e::Monitor monitor = e2e::start_monitor(dir, c.arguments);
        EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 255);
        EXPECT_EQ(e2e::read_file(monitor.err_path), "pktwatch: " + c.line + "; it is left alone\n");
        EXPECT_EQ(e2e::read_file(input), capture);
    }
    // The log that was opened keeps its options report, not a capture.
    EXPECT_EQ(e2e::read_file(log).rfind("OPTIONS\n", 0), 0u);
    std::filesystem::remove_all(dir);
}

// A capture file that cannot be opened, to read or to save: one line that
// names it once (the reason does not name it again), status 255.
TEST(CaptureFileEndToEnd, FileThatCannotBeOpenedEndsWithItsNameOnceAndStatus255) {
    const std::string dir = e2e::make_temp_dir();
    const std::string missing = dir + "/missing.pcap";
    const std::string text = dir + "/notes.txt";
    e2e::write_file(text, "not a capture\n");
    // A pcap file header and no record: LINKTYPE_IPV4, little-endian.
    const std::string empty = dir + "/empty.pcap";
    e2e::write_file(empty, std::string("\xD4\xC3\xB2\xA1\x02\x00\x04\x00", 8) +
                               std::string(8, '\0') + std::string("\xD0\x07\0\0\xE4\0\0\0", 8));
    const std::string no_folder = dir + "/no-such-folder/saved.pcap";
    const struct {
        std::vector<std::string> arguments;
        std::string err;
    } cases[] = {
        {{"--read", missing}, "pktwatch: " + missing + ": " + std::strerror(ENOENT) + "\n"},
        {{"--read", text}, "pktwatch: " + text + ": unknown file format\n"},
        {{"--read", empty, "--save", no_folder},
         "pktwatch: capture file " + no_folder + ": " + std::strerror(ENOENT) + "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        e2e::Monitor monitor = e2e::start_monitor(dir, c.arguments);
        EXPECT_EQ(e2e::exit_code(e2e::wait_for_exit(monitor)), 255);
        EXPECT_EQ(e2e::read_file(monitor.err_path), c.err);
    }
    std::filesystem::remove_all(dir);
}

}  // namespace

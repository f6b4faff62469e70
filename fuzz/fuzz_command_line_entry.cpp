// parse_command_line over an arbitrary argument vector: the input split on NUL
// bytes, after the program name. Checks the status and that the log file name
// stays a terminated text inside its buffer.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "config/options.hpp"
#include "fuzz_entries.hpp"
#include "fuzz_support.hpp"

int fuzz_command_line_one(const std::uint8_t* data, std::size_t size) {
    // The arguments' text, each ended by the NUL that split it (or by the one
    // added at the end).
    std::vector<char> text(data, data + size);
    text.push_back('\0');

    std::vector<const char*> argv{"pktwatch"};
    if (size > 0) {
        argv.push_back(text.data());
        for (std::size_t i = 0; i + 1 < text.size(); ++i) {
            if (text[i] == '\0') {
                argv.push_back(&text[i + 1]);
            }
        }
    }
    const int argc = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    MonitorOptions options{};
    options.listen_address = network_order_address(0xC0A80005);  // 192.168.0.5
    // Failure lines (an unknown long option) are thrown away with the rest.
    const int status =
        parse_command_line(options, argc, argv.data(),
                           Console{test_support::null_stream(), ConsoleEncoding::shift_jis,
                                   test_support::null_stream()});

    FUZZ_CHECK(status == 1 || status == 0 || status == -1);
    FUZZ_CHECK(std::memchr(options.log_path, '\0', sizeof options.log_path) != nullptr);
    FUZZ_CHECK(options.show_detail <= 1 && options.show_dump <= 1);
    return 0;
}

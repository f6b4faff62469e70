// The local addresses, decimal values, the usage text and the options report;
// the command line is read in command_line.cpp.
#include "config/options.hpp"

#include <cstring>

#include "console/messages.hpp"
#include "net/address.hpp"

int usable_local_addresses(const LocalAddresses& found, const Console& out) {
    switch (found.status) {
        case LocalAddressStatus::ok:
            return found.list.count < 0                     ? 0
                   : found.list.count > max_local_addresses ? max_local_addresses
                                                            : found.list.count;
        case LocalAddressStatus::host_name_failed:
            console_text(out, msg_host_name_failed);
            return 0;
        case LocalAddressStatus::lookup_failed:
            console_text(out, msg_host_lookup_failed);
            return 0;
    }
    return 0;
}

std::uint32_t default_local_address(const LocalAddresses& found, const Console& out) {
    return usable_local_addresses(found, out) > 0 ? found.list.address[0] : 0;
}

std::uint32_t decimal_value(const char* text) {
    // The white space of the C locale, as atoi skips it.
    while (*text == ' ' || (*text >= '\t' && *text <= '\r')) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    std::uint32_t value = 0;
    while (*text >= '0' && *text <= '9') {
        value = value * 10u + static_cast<std::uint32_t>(*text - '0');
        ++text;
    }
    return negative ? 0u - value : value;
}

void print_usage(std::FILE* stream) {
    std::fputs(
        "// ---------------------------------------------------------------------------\n"
        "Uage: Pktwatch.exe [OPTION]... IPaddress\n"
        "\n"
        "  -h             display this help and exit.\n"
        "  -i=ipaddress   IP address for filtering.\n"
        "  -w=ip width    Width of filtering IP address.\n"
        "  -p=port        Port number for filtering.\n"
        "  -d             Show detail headers.\n"
        "  -b             Show binary dump.\n"
        "  -f=filename    Log filename\n"
        "  IPaddress      Local IP address to bind monitoring socket.\n"
        "\n"
        "When no option was specified, start with UI mode.\n"
        "\n"
        "// ---------------------------------------------------------------------------\n",
        stream);
}

void print_options(std::FILE* stream, const MonitorOptions& options) {
    const AddressBytes listen = address_bytes(options.listen_address);
    const AddressBytes first = address_bytes(options.filter_address);
    const std::uint32_t last = capture_filter_of(options).high;
    std::fprintf(stream,
                 "OPTIONS\n"
                 "Show header detail   %s\n"
                 "Show dump            %s\n"
                 "logfile              %s\n"
                 "Listen address       %u.%u.%u.%u\n"
                 "\n"
                 "Filtering address    %u.%u.%u.%u - %u.%u.%u.%u\n"
                 "Filtering port       %u\n",
                 options.show_detail != 0 ? "Yes" : "no", options.show_dump != 0 ? "Yes" : "no",
                 options.log_path[0] != '\0' ? options.log_path : "<no>", unsigned{listen.byte[0]},
                 unsigned{listen.byte[1]}, unsigned{listen.byte[2]}, unsigned{listen.byte[3]},
                 unsigned{first.byte[0]}, unsigned{first.byte[1]}, unsigned{first.byte[2]},
                 unsigned{first.byte[3]}, unsigned{last >> 24 & 0xFFu},
                 unsigned{last >> 16 & 0xFFu}, unsigned{last >> 8 & 0xFFu}, unsigned{last & 0xFFu},
                 unsigned{options.filter_port});
}

void print_version(std::FILE* stream) {
    std::fputs("pktwatch " PKTWATCH_VERSION "\n", stream);
}

bool version_only(int argc, const char* const* argv) {
    return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

// The options record filled from the command line, the local addresses, the
// usage text and the options report.
#include "config/options.hpp"

#include <cstring>

#include "console/messages.hpp"

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

namespace {

// Returns the value argument of the option at argv[*index] and steps over it,
// or nullptr when there is none.
const char* option_value(int argc, const char* const* argv, int* index) {
    if (*index + 1 >= argc) {
        return nullptr;
    }
    ++*index;
    return argv[*index];
}

}  // namespace

int parse_command_line(MonitorOptions& options, int argc, const char* const* argv,
                       const Console& out) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument[0] != '-' && argument[0] != '/') {
            const std::uint32_t address = platform_inet_addr(argument);
            if (address == 0) {
                console_text(out, msg_bad_bind_address);
                return set_up_failed;
            }
            options.listen_address = address;
            break;
        }
        switch (argument[1]) {
            case 'b':
                options.show_dump = 1;
                break;
            case 'd':
                options.show_detail = 1;
                break;
            case 'f': {
                const char* value = option_value(argc, argv, &i);
                if (value == nullptr) {
                    console_text(out, msg_missing_log_name);
                    return set_up_failed;
                }
                std::size_t length = 0;
                while (length < log_path_size - 1 && value[length] != '\0') {
                    ++length;
                }
                std::memcpy(options.log_path, value, length);
                options.log_path[length] = '\0';
                break;
            }
            case 'h':
                print_usage(out.stream);
                return set_up_usage;
            case 'i': {
                const char* value = option_value(argc, argv, &i);
                const std::uint32_t address = value == nullptr ? 0 : platform_inet_addr(value);
                if (address == 0) {
                    console_text(out, msg_bad_filter_address);
                    return set_up_failed;
                }
                options.filter_address = address;
                break;
            }
            case 'p': {
                const char* value = option_value(argc, argv, &i);
                const auto port =
                    static_cast<std::uint16_t>(value == nullptr ? 0 : decimal_value(value));
                if (port == 0) {
                    console_text(out, msg_bad_filter_port);
                    return set_up_failed;
                }
                options.filter_port = port;
                break;
            }
            case 'w': {
                const char* value = option_value(argc, argv, &i);
                const std::uint32_t count = value == nullptr ? 0 : decimal_value(value);
                if (count == 0) {
                    console_text(out, msg_bad_filter_width);
                    return set_up_failed;
                }
                options.filter_width = count - 1;
                break;
            }
            default:
                break;
        }
    }
    print_options(out.stream, options);
    return set_up_done;
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

// The options record filled from the command line, the local addresses, the
// usage text and the options report.
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

// Copies `value` into `buffer` (`size` bytes, terminated). False, leaving the
// buffer alone, when it does not fit: a name is never cut.
bool copy_name(char* buffer, std::size_t size, const char* value) {
    const std::size_t length = std::strlen(value);
    if (length >= size) {
        return false;
    }
    std::memcpy(buffer, value, length + 1);
    return true;
}

// Reads --count's value: decimal digits only, 1 to max_count. 0 when the text
// is not such a number.
std::uint64_t count_value(const char* text) {
    std::uint64_t value = 0;
    if (*text == '\0') {
        return 0;
    }
    for (; *text != '\0'; ++text) {
        if (*text < '0' || *text > '9') {
            return 0;
        }
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        if (value > (max_count - digit) / 10u) {
            return 0;
        }
        value = value * 10u + digit;
    }
    return value;
}

// The long options that take a value and the record field each fills.
enum class LongOption { read, save, count, user, help, version, unknown };

struct LongOptionName {
    const char* name;
    LongOption option;
};

constexpr LongOptionName long_options[] = {
    {"--read", LongOption::read}, {"--save", LongOption::save}, {"--count", LongOption::count},
    {"--user", LongOption::user}, {"--help", LongOption::help}, {"--version", LongOption::version},
};

LongOption long_option_of(const char* argument) {
    for (const LongOptionName& entry : long_options) {
        if (std::strcmp(argument, entry.name) == 0) {
            return entry.option;
        }
    }
    return LongOption::unknown;
}

// Reads the long option at argv[*index] (and its value). set_up_done to go
// on, or set_up_usage / set_up_failed to end the parse with.
SetUpResult parse_long_option(MonitorOptions& options, int argc, const char* const* argv,
                              int* index, const Console& out) {
    const char* argument = argv[*index];
    const LongOption option = long_option_of(argument);
    switch (option) {
        case LongOption::unknown:
            return set_up_done;
        case LongOption::help:
            print_usage(out.stream);
            return set_up_usage;
        case LongOption::version:
            print_version(out.stream);
            return set_up_usage;
        case LongOption::read:
        case LongOption::save:
        case LongOption::count:
        case LongOption::user:
            break;
    }
    const char* value = option_value(argc, argv, index);
    if (value == nullptr) {
        console_printf(out, fmt_missing_value, argument);
        return set_up_failed;
    }
    bool fits = true;
    switch (option) {
        case LongOption::read:
            fits = copy_name(options.read_path, sizeof options.read_path, value);
            break;
        case LongOption::save:
            fits = copy_name(options.save_path, sizeof options.save_path, value);
            break;
        case LongOption::user:
            fits = copy_name(options.user_name, sizeof options.user_name, value);
            break;
        case LongOption::count:
            options.count = count_value(value);
            if (options.count == 0) {
                console_text(out, msg_bad_count);
                return set_up_failed;
            }
            break;
        default:
            break;
    }
    if (!fits) {
        const int most = option == LongOption::user ? user_name_size - 1 : capture_path_size - 1;
        console_printf(out, fmt_name_too_long, argument, most);
        return set_up_failed;
    }
    return set_up_done;
}

}  // namespace

SetUpResult parse_command_line(MonitorOptions& options, int argc, const char* const* argv,
                               const Console& out) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument[0] != '-' && argument[0] != '/') {
            std::uint32_t address = 0;
            if (!parse_dotted_quad(argument, &address) || address == 0) {
                console_text(out, msg_bad_bind_address);
                return set_up_failed;
            }
            options.listen_address = address;
            break;
        }
        if (argument[0] == '-' && argument[1] == '-') {
            const SetUpResult result = parse_long_option(options, argc, argv, &i, out);
            if (result != set_up_done) {
                return result;
            }
            continue;
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
                if (!copy_name(options.log_path, sizeof options.log_path, value)) {
                    console_printf(out, fmt_name_too_long, "-f", log_path_size - 1);
                    return set_up_failed;
                }
                break;
            }
            case 'h':
                print_usage(out.stream);
                return set_up_usage;
            case 'i': {
                const char* value = option_value(argc, argv, &i);
                std::uint32_t address = 0;
                if (value == nullptr || !parse_dotted_quad(value, &address) || address == 0) {
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

void print_version(std::FILE* stream) {
    std::fputs("pktwatch " PKTWATCH_VERSION "\n", stream);
}

bool version_only(int argc, const char* const* argv) {
    return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

// The command line: one table of the options, which parse_command_line reads
// the arguments with and print_help lists the long options from.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "config/options.hpp"
#include "console/failure.hpp"
#include "console/messages.hpp"
#include "net/address.hpp"

namespace {

// What an option takes, and so how its value is read and stored.
enum class OptionKind {
    flag,     // no value: its 0/1 field becomes 1
    name,     // a name, copied whole into its text field; a longer one is refused
    address,  // a dotted quad other than 0.0.0.0
    port,     // read like atoi, kept modulo 2^16; 0 is refused
    width,    // read like atoi; 0 is refused; the field keeps it minus one
    count,    // decimal digits only, 1 to max_count
    usage,    // prints the usage text and ends the parse
    help,     // prints the usage text and the long options, and ends the parse
    version,  // prints the version and ends the parse
};

// The bytes of MonitorOptions an option's value is stored in.
struct OptionField {
    std::size_t offset = 0;
    std::size_t size = 0;
};

struct OptionSpec {
    // "-f": a short option, chosen by its second character alone; "--read":
    // a long option, matched whole.
    const char* name = nullptr;
    OptionKind kind = OptionKind::flag;
    OptionField field{};  // none for usage, help and version
    // The console text when the value is missing; nullptr: fmt_missing_value
    // with the option's name.
    const char* missing = nullptr;
    // The console text for a bad address, port, width or count. A name that
    // does not fit always gets fmt_name_too_long.
    const char* bad = nullptr;
    // A long option's line in --help: the name of its value, what it does.
    const char* value_name = "";
    const char* help = nullptr;
};

// The field of MonitorOptions named `member`.
#define OPTION_FIELD(member) \
    { offsetof(MonitorOptions, member), sizeof(MonitorOptions::member) }

constexpr OptionSpec option_specs[] = {
    {.name = "-h", .kind = OptionKind::usage},
    {.name = "-b", .kind = OptionKind::flag, .field = OPTION_FIELD(show_dump)},
    {.name = "-d", .kind = OptionKind::flag, .field = OPTION_FIELD(show_detail)},
    {.name = "-f",
     .kind = OptionKind::name,
     .field = OPTION_FIELD(log_path),
     .missing = msg_missing_log_name},
    {.name = "-i",
     .kind = OptionKind::address,
     .field = OPTION_FIELD(filter_address),
     .missing = msg_bad_filter_address,
     .bad = msg_bad_filter_address},
    {.name = "-p",
     .kind = OptionKind::port,
     .field = OPTION_FIELD(filter_port),
     .missing = msg_bad_filter_port,
     .bad = msg_bad_filter_port},
    {.name = "-w",
     .kind = OptionKind::width,
     .field = OPTION_FIELD(filter_width),
     .missing = msg_bad_filter_width,
     .bad = msg_bad_filter_width},
    {.name = "--read",
     .kind = OptionKind::name,
     .field = OPTION_FIELD(read_path),
     .value_name = "FILE",
     .help = "Show the datagrams of a capture file."},
    {.name = "--save",
     .kind = OptionKind::name,
     .field = OPTION_FIELD(save_path),
     .value_name = "FILE",
     .help = "Save the datagrams shown to a capture file."},
    {.name = "--count",
     .kind = OptionKind::count,
     .field = OPTION_FIELD(count),
     .bad = msg_bad_count,
     .value_name = "N",
     .help = "End after N datagrams."},
    {.name = "--user",
     .kind = OptionKind::name,
     .field = OPTION_FIELD(user_name),
     .value_name = "NAME",
     .help = "Run as user NAME once capturing."},
    {.name = "--help", .kind = OptionKind::help, .help = "Display this help and exit."},
    {.name = "--version", .kind = OptionKind::version, .help = "Display the version and exit."},
};

#undef OPTION_FIELD

// "--NAME" (also "--" alone, which names no option) is read as a long option.
constexpr bool is_long(const char* argument) {
    return argument[0] == '-' && argument[1] == '-';
}

constexpr std::size_t text_length(const char* text) {
    std::size_t length = 0;
    while (text[length] != '\0') {
        ++length;
    }
    return length;
}

// The usage text's layout: descriptions start in column 18.
constexpr std::size_t help_column = 17;

// Each option is named as its kind of name must be, stores into a field of
// the size its kind stores, and a long option's --help line keeps the layout.
constexpr bool option_specs_are_sound() {
    for (const OptionSpec& spec : option_specs) {
        const std::size_t length = text_length(spec.name);
        if (spec.name[0] != '-' || (is_long(spec.name) ? length < 3 : length != 2)) {
            return false;
        }
        if (is_long(spec.name) && (spec.help == nullptr ||
                                   2 + length + 1 + text_length(spec.value_name) >= help_column)) {
            return false;
        }
        std::size_t size = 0;
        switch (spec.kind) {
            case OptionKind::flag:
                size = sizeof(std::uint8_t);
                break;
            case OptionKind::name:
                size = spec.field.size > 1 ? spec.field.size : 0;
                break;
            case OptionKind::address:
            case OptionKind::width:
                size = sizeof(std::uint32_t);
                break;
            case OptionKind::port:
                size = sizeof(std::uint16_t);
                break;
            case OptionKind::count:
                size = sizeof(std::uint64_t);
                break;
            case OptionKind::usage:
            case OptionKind::help:
            case OptionKind::version:
                break;
        }
        if (spec.field.size != size || spec.field.offset + size > sizeof(MonitorOptions)) {
            return false;
        }
    }
    return true;
}
static_assert(option_specs_are_sound(), "an option's name, field or help line does not fit");

// The spec `argument` names, or nullptr: a short option by its second
// character, a long one by its whole text.
const OptionSpec* option_named(const char* argument) {
    for (const OptionSpec& spec : option_specs) {
        if (is_long(argument) ? is_long(spec.name) && std::strcmp(spec.name, argument) == 0
                              : !is_long(spec.name) && spec.name[1] == argument[1]) {
            return &spec;
        }
    }
    return nullptr;
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

// The first byte of the record's field.
unsigned char* field_bytes(MonitorOptions& options, const OptionField& field) {
    return reinterpret_cast<unsigned char*>(&options) + field.offset;
}

// Stores the field's size of bytes from `value`: a value of the field's type,
// as option_specs_are_sound makes sure.
void store(MonitorOptions& options, const OptionField& field, const void* value) {
    std::memcpy(field_bytes(options, field), value, field.size);
}

// Reads `value` for the option and stores it. False, after the option's
// message, when it is bad; the record is then left alone.
bool store_value(MonitorOptions& options, const OptionSpec& spec, const char* value,
                 const Console& out) {
    switch (spec.kind) {
        case OptionKind::name: {
            const std::size_t length = std::strlen(value);
            if (length >= spec.field.size) {
                console_printf(out, fmt_name_too_long, spec.name,
                               static_cast<int>(spec.field.size - 1));
                return false;
            }
            std::memcpy(field_bytes(options, spec.field), value, length + 1);
            return true;
        }
        case OptionKind::address: {
            std::uint32_t address = 0;
            if (!parse_dotted_quad(value, &address) || address == 0) {
                break;
            }
            store(options, spec.field, &address);
            return true;
        }
        case OptionKind::port: {
            const auto port = static_cast<std::uint16_t>(decimal_value(value));
            if (port == 0) {
                break;
            }
            store(options, spec.field, &port);
            return true;
        }
        case OptionKind::width: {
            const std::uint32_t width = decimal_value(value);
            if (width == 0) {
                break;
            }
            const std::uint32_t beyond_first = width - 1;
            store(options, spec.field, &beyond_first);
            return true;
        }
        case OptionKind::count: {
            const std::uint64_t count = count_value(value);
            if (count == 0) {
                break;
            }
            store(options, spec.field, &count);
            return true;
        }
        case OptionKind::flag:
        case OptionKind::usage:
        case OptionKind::help:
        case OptionKind::version:
            return true;  // they take no value: not called for them
    }
    console_text(out, spec.bad);
    return false;
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
        const OptionSpec* spec = option_named(argument);
        if (spec == nullptr) {
            // An unknown letter, "-", "/" and "--" are ignored; an unknown
            // long option is refused, as watching with an option misspelt
            // would not do what was asked.
            if (is_long(argument) && argument[2] != '\0') {
                report_failure_on(out, "unknown option %s", argument);
                return set_up_failed;
            }
            continue;
        }
        switch (spec->kind) {
            case OptionKind::usage:
                print_usage(out.stream);
                return set_up_usage;
            case OptionKind::help:
                print_help(out.stream);
                return set_up_usage;
            case OptionKind::version:
                print_version(out.stream);
                return set_up_usage;
            case OptionKind::flag: {
                const std::uint8_t on = 1;
                store(options, spec->field, &on);
                continue;
            }
            default:
                break;
        }
        // The value is the next argument, whatever it looks like. A long
        // option's name may not be empty: --read "" would watch the
        // interface instead, --save "" and --user "" would do nothing
        // asked. (-f "" means no log, as it always has.)
        if (i + 1 >= argc ||
            (is_long(spec->name) && spec->kind == OptionKind::name && argv[i + 1][0] == '\0')) {
            if (spec->missing != nullptr) {
                console_text(out, spec->missing);
            } else {
                console_printf(out, fmt_missing_value, spec->name);
            }
            return set_up_failed;
        }
        ++i;
        if (!store_value(options, *spec, argv[i], out)) {
            return set_up_failed;
        }
    }
    print_options(out.stream, options);
    return set_up_done;
}

void print_help(std::FILE* stream) {
    print_usage(stream);
    std::fputs("Long options:\n", stream);
    for (const OptionSpec& spec : option_specs) {
        if (is_long(spec.name)) {
            const int value_width = static_cast<int>(help_column - 2 - text_length(spec.name) - 1);
            std::fprintf(stream, "  %s %-*s%s\n", spec.name, value_width, spec.value_name,
                         spec.help);
        }
    }
}

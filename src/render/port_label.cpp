// The port label: the service name of the port table's first row for the
// port, with the port in parentheses, or the bare decimal port.
#include "render/port_label.hpp"

#include "render/tables/port_name_table.hpp"

namespace {

// The longest label: a 15-character name, "(", five digits, ")".
constexpr int longest_label = 15 + 1 + 5 + 1;
static_assert(longest_label < port_label_size);

}  // namespace

char* format_port_label(std::uint16_t port, char* label) {
    const char* name = PortNameTable[find_port_index(port)].name;
    char* out = label;
    if (name[0] != '\0') {
        // "name(port)"
        while (*name != '\0') {
            *out++ = *name++;
        }
        *out++ = '(';
        out = write_decimal(out, port);
        *out++ = ')';
    } else {
        out = write_decimal(out, port);
    }
    *out = '\0';
    return label;
}

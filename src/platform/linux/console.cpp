// The console on Linux: the terminal's encoding comes from the locale, and
// text is written as plain bytes.
#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <unistd.h>

#include <clocale>
#include <cstring>

#include "platform/platform.hpp"

namespace {

// A standard stream the program was started without (its descriptor closed)
// would be handed to the next file or socket opened: the capture socket or
// the log file would become standard output, and the console's text would go
// into the log or out onto the interface. Each closed one is held instead by
// /dev/null opened the other way round, so it still fails as a closed one
// does (EBADF) and nothing else can take its number.
void hold_closed_standard_streams() {
    constexpr int held_with[3] = {O_WRONLY, O_RDONLY, O_RDONLY};
    for (int fd = 0; fd < 3; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // The lowest free number: `fd` itself, as those below are open.
            const int held = open("/dev/null", held_with[fd]);
            if (held != fd && held >= 0) {
                close(held);
            }
        }
    }
}

}  // namespace

ConsoleEncoding platform_console_init() {
    hold_closed_standard_streams();
    std::setlocale(LC_CTYPE, "");
    const char* codeset = nl_langinfo(CODESET);
    return codeset != nullptr && std::strcmp(codeset, "UTF-8") == 0 ? ConsoleEncoding::utf8
                                                                    : ConsoleEncoding::shift_jis;
}

bool platform_write_console_text(std::FILE* /*stream*/, const char* /*utf8*/,
                                 std::size_t /*length*/) {
    return false;
}

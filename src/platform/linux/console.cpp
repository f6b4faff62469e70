// The console on Linux: the terminal's encoding comes from the locale, and
// text is written as plain bytes.
#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
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

std::size_t platform_stream_room(std::FILE* stream) {
    const int fd = fileno(stream);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0) {
        return stream_room_unlimited;
    }
    if (S_ISREG(status.st_mode) || (S_ISCHR(status.st_mode) && isatty(fd) == 0)) {
        return stream_room_unlimited;  // a file, /dev/null: a write never waits for a reader
    }
    pollfd writable{fd, POLLOUT, 0};
    if (poll(&writable, 1, 0) < 0 || (writable.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        return stream_room_unlimited;  // let the write report what is wrong
    }
    if ((writable.revents & POLLOUT) == 0) {
        return 0;
    }
    if (S_ISFIFO(status.st_mode)) {
        // A pipe: its size less what its reader has not read yet.
        const int size = fcntl(fd, F_GETPIPE_SZ);
        int unread = 0;
        if (size > 0 && ioctl(fd, FIONREAD, &unread) == 0 && unread >= 0 && unread <= size) {
            return static_cast<std::size_t>(size - unread);
        }
    }
    // A terminal or a socket that is ready takes at least a pipe's atomic
    // write (PIPE_BUF) without waiting.
    return 4096;
}

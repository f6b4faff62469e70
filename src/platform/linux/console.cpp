// The console on Linux: the terminal's encoding comes from the locale, and
// text is written as plain bytes.
#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <limits.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstring>

#include "platform/console.hpp"

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

// A file, /dev/null: a write never waits for a reader.
bool never_waits(int fd, const struct stat& status) {
    return S_ISREG(status.st_mode) || (S_ISCHR(status.st_mode) && isatty(fd) == 0);
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

// Both terminals, and one device by number and by file: two opens of one
// pseudo-terminal are, a terminal and the next one are not.
bool platform_same_terminal(std::FILE* first, std::FILE* second) {
    const int a = fileno(first);
    const int b = fileno(second);
    struct stat one {};
    struct stat other {};
    if (a < 0 || b < 0 || isatty(a) == 0 || isatty(b) == 0 || fstat(a, &one) != 0 ||
        fstat(b, &other) != 0) {
        return false;
    }
    return one.st_rdev == other.st_rdev && one.st_dev == other.st_dev && one.st_ino == other.st_ino;
}

StreamKind platform_stream_kind(std::FILE* stream) {
    const int fd = fileno(stream);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0 || !never_waits(fd, status)) {
        return StreamKind::may_wait;
    }
    struct stat null_device {};
    if (S_ISCHR(status.st_mode) && stat("/dev/null", &null_device) == 0 &&
        S_ISCHR(null_device.st_mode) && status.st_rdev == null_device.st_rdev) {
        return StreamKind::discards;
    }
    return StreamKind::never_waits;
}

std::size_t platform_stream_room(std::FILE* stream) {
    const int fd = fileno(stream);
    struct stat status {};
    if (fd < 0 || fstat(fd, &status) != 0 || never_waits(fd, status)) {
        return stream_room_unlimited;
    }
    pollfd writable{fd, POLLOUT, 0};
    if (poll(&writable, 1, 0) < 0 || (writable.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
        return stream_room_unlimited;  // let the write report what is wrong
    }
    if ((writable.revents & POLLOUT) == 0) {
        return 0;
    }
    // A pipe is a ring of page-sized slots, and a write that does not fit
    // the last slot's tail takes new ones: bytes unread do not say how many
    // slots are free. Ready (POLLOUT) means at least one is, which takes
    // PIPE_BUF bytes; an empty pipe takes its whole size.
    if (S_ISFIFO(status.st_mode)) {
        const int size = fcntl(fd, F_GETPIPE_SZ);
        int unread = 0;
        if (size > PIPE_BUF && ioctl(fd, FIONREAD, &unread) == 0 && unread == 0) {
            return static_cast<std::size_t>(size);
        }
        return PIPE_BUF;
    }
    // A terminal or a socket that is ready takes at least a pipe's atomic
    // write (PIPE_BUF) without waiting.
    return PIPE_BUF;
}

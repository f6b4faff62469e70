// Output files on Linux: the log and a capture file being saved are opened so
// that a symbolic link or another user's file standing where they are to be
// written is refused, not written through.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/output_file.hpp"

namespace {

// The descriptor a name of the monitor's own open descriptors stands for
// (/dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N), or -1 for any other
// name. These are symbolic links: the descriptor is used instead of following
// them, as that is what they name.
int own_descriptor(const char* path) {
    if (std::strcmp(path, "/dev/stdout") == 0) {
        return STDOUT_FILENO;
    }
    if (std::strcmp(path, "/dev/stderr") == 0) {
        return STDERR_FILENO;
    }
    const char* digits = nullptr;
    if (std::strncmp(path, "/dev/fd/", 8) == 0) {
        digits = path + 8;
    } else if (std::strncmp(path, "/proc/self/fd/", 14) == 0) {
        digits = path + 14;
    } else {
        return -1;
    }
    int descriptor = 0;
    for (const char* c = digits; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || descriptor > 100000) {
            return -1;
        }
        descriptor = descriptor * 10 + (*c - '0');
    }
    return *digits == '\0' ? -1 : descriptor;
}

std::FILE* refuse(int descriptor, char* reason, std::size_t size, const char* text) {
    std::snprintf(reason, size, "%s", text);
    if (descriptor >= 0) {
        close(descriptor);
    }
    return nullptr;
}

std::FILE* refuse_foreign(int descriptor, uid_t owner, char* reason, std::size_t size) {
    char text[128];
    std::snprintf(text, sizeof text, "belongs to another user (uid %lu); it is left alone",
                  static_cast<unsigned long>(owner));
    return refuse(descriptor, reason, size, text);
}

FileIdentity identity_of(const struct stat& info) {
    return S_ISREG(info.st_mode) ? FileIdentity{true, static_cast<std::uint64_t>(info.st_dev),
                                                static_cast<std::uint64_t>(info.st_ino)}
                                 : FileIdentity{false, 0, 0};
}

// The first of `in_use` that `descriptor` is, or nullptr.
const FileInUse* file_in_use(int descriptor, const FileInUse* in_use, int count) {
    struct stat info {};
    if (fstat(descriptor, &info) != 0) {
        return nullptr;
    }
    const FileIdentity identity = identity_of(info);
    for (int i = 0; i < count && identity.known; ++i) {
        if (in_use[i].identity.known && in_use[i].identity.device == identity.device &&
            in_use[i].identity.inode == identity.inode) {
            return &in_use[i];
        }
    }
    return nullptr;
}

std::FILE* refuse_in_use(int descriptor, const FileInUse& in_use, char* reason, std::size_t size) {
    char text[160];
    std::snprintf(text, sizeof text, "is %s as well; it is left alone", in_use.what);
    return refuse(descriptor, reason, size, text);
}

}  // namespace

FileIdentity platform_file_identity(const char* path) {
    struct stat info {};
    const bool found =
        std::strcmp(path, "-") == 0 ? fstat(STDIN_FILENO, &info) == 0 : stat(path, &info) == 0;
    return found ? identity_of(info) : FileIdentity{false, 0, 0};
}

FileIdentity platform_stream_identity(std::FILE* stream) {
    struct stat info {};
    const int descriptor = fileno(stream);
    return descriptor >= 0 && fstat(descriptor, &info) == 0 ? identity_of(info)
                                                            : FileIdentity{false, 0, 0};
}

std::FILE* platform_open_output_file(const char* path, const FileInUse* in_use, int count,
                                     char* reason, std::size_t size) {
    const int own = own_descriptor(path);
    int descriptor = -1;
    if (own >= 0) {
        // Shared with the caller's stream: neither owner-checked nor truncated.
        descriptor = fcntl(own, F_DUPFD_CLOEXEC, 3);
        if (descriptor < 0) {
            return refuse(-1, reason, size, std::strerror(errno));
        }
        if (const FileInUse* used = file_in_use(descriptor, in_use, count); used != nullptr) {
            return refuse_in_use(descriptor, *used, reason, size);
        }
    } else {
        // Not truncated yet: a file that is refused must be left as it was.
        // Without blocking first, so that another user's FIFO is refused
        // before a reader comes; the monitor's own waits for one.
        constexpr int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
        descriptor = open(path, flags | O_NONBLOCK, 0600);
        struct stat fifo {};
        if (descriptor < 0 && errno == ENXIO && lstat(path, &fifo) == 0 && S_ISFIFO(fifo.st_mode)) {
            if (fifo.st_uid != geteuid()) {
                return refuse_foreign(-1, fifo.st_uid, reason, size);
            }
            descriptor = open(path, flags, 0600);
        } else if (descriptor >= 0) {
            const int status = fcntl(descriptor, F_GETFL);
            if (status < 0 || fcntl(descriptor, F_SETFL, status & ~O_NONBLOCK) != 0) {
                return refuse(descriptor, reason, size, std::strerror(errno));
            }
        }
        if (descriptor < 0) {
            const int error = errno;
            struct stat link {};
            if (error == ELOOP && lstat(path, &link) == 0 && S_ISLNK(link.st_mode)) {
                return refuse(-1, reason, size,
                              "is a symbolic link; it is not followed, give the file's own name");
            }
            return refuse(-1, reason, size, std::strerror(error));
        }
        struct stat info {};
        if (fstat(descriptor, &info) != 0) {
            return refuse(descriptor, reason, size, std::strerror(errno));
        }
        // Devices (/dev/null, a terminal) are anybody's; a file or a FIFO must
        // be the monitor's user's own.
        if ((S_ISREG(info.st_mode) || S_ISFIFO(info.st_mode)) && info.st_uid != geteuid()) {
            return refuse_foreign(descriptor, info.st_uid, reason, size);
        }
        // Never truncated when it is an input, or the other output.
        if (const FileInUse* used = file_in_use(descriptor, in_use, count); used != nullptr) {
            return refuse_in_use(descriptor, *used, reason, size);
        }
        if (S_ISREG(info.st_mode) && ftruncate(descriptor, 0) != 0) {
            return refuse(descriptor, reason, size, std::strerror(errno));
        }
    }
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        return refuse(descriptor, reason, size, std::strerror(errno));
    }
    return file;
}

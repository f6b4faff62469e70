// Output files on Linux: the log and a capture file being saved are opened so
// that a symbolic link (anywhere in the name) or another user's file standing
// where they are to be written is refused, not written through.
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

// Gives `text` as the reason, closes what was opened, and returns -1.
int refuse(int descriptor, char* reason, std::size_t size, const char* text) {
    std::snprintf(reason, size, "%s", text);
    if (descriptor >= 0) {
        close(descriptor);
    }
    return -1;
}

int refuse_foreign(int descriptor, uid_t owner, char* reason, std::size_t size) {
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

int refuse_in_use(int descriptor, const FileInUse& in_use, char* reason, std::size_t size) {
    char text[160];
    std::snprintf(text, sizeof text, "is %s as well; it is left alone", in_use.what);
    return refuse(descriptor, reason, size, text);
}

// The directory that holds the last component of `path`, reached from the
// root (or the working directory) one component at a time without following
// a symbolic link: a link planted in a directory on the way (a world-writable
// one) cannot lead the write elsewhere. Its descriptor (AT_FDCWD for a name
// without a directory) and where the last component starts; -1 with the
// reason in `reason` otherwise.
int parent_without_links(const char* path, const char** last, char* reason, std::size_t size) {
    int directory = AT_FDCWD;
    const char* at = path;
    if (*at == '/') {
        directory = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
        if (directory < 0) {
            return refuse(-1, reason, size, std::strerror(errno));
        }
        while (*at == '/') {
            ++at;
        }
    }
    for (const char* slash = std::strchr(at, '/'); slash != nullptr; slash = std::strchr(at, '/')) {
        char component[256];
        const auto length = static_cast<std::size_t>(slash - at);
        if (length >= sizeof component) {
            if (directory != AT_FDCWD) {
                close(directory);
            }
            return refuse(-1, reason, size, std::strerror(ENAMETOOLONG));
        }
        std::memcpy(component, at, length);
        component[length] = '\0';
        const int next =
            openat(directory, component, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int error = errno;
            struct stat link {};
            const bool is_link = fstatat(directory, component, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
                                 S_ISLNK(link.st_mode);
            if (directory != AT_FDCWD) {
                close(directory);
            }
            if (!is_link) {
                return refuse(-1, reason, size, std::strerror(error));
            }
            std::snprintf(reason, size,
                          "%.*s is a symbolic link; it is not followed, give the file's own name",
                          static_cast<int>(slash - path), path);
            return -1;
        }
        if (directory != AT_FDCWD) {
            close(directory);
        }
        directory = next;
        at = slash + 1;
        while (*at == '/') {
            ++at;
        }
    }
    *last = at;
    return directory;
}

// Opens `name` in `directory` as an output file, owner-checked and
// truncated: its descriptor, or -1 with the reason in `reason`.
int open_in(int directory, const char* name, const FileInUse* in_use, int count, char* reason,
            std::size_t size) {
    // Not truncated yet: a file that is refused must be left as it was.
    // Without blocking first, so that another user's FIFO is refused before a
    // reader comes; the monitor's own waits for one.
    constexpr int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    int descriptor = openat(directory, name, flags | O_NONBLOCK, 0600);
    struct stat fifo {};
    if (descriptor < 0 && errno == ENXIO &&
        fstatat(directory, name, &fifo, AT_SYMLINK_NOFOLLOW) == 0 && S_ISFIFO(fifo.st_mode)) {
        if (fifo.st_uid != geteuid()) {
            return refuse_foreign(-1, fifo.st_uid, reason, size);
        }
        descriptor = openat(directory, name, flags, 0600);
    } else if (descriptor >= 0) {
        const int status = fcntl(descriptor, F_GETFL);
        if (status < 0 || fcntl(descriptor, F_SETFL, status & ~O_NONBLOCK) != 0) {
            return refuse(descriptor, reason, size, std::strerror(errno));
        }
    }
    if (descriptor < 0) {
        const int error = errno;
        struct stat link {};
        if (error == ELOOP && fstatat(directory, name, &link, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(link.st_mode)) {
            return refuse(-1, reason, size,
                          "is a symbolic link; it is not followed, give the file's own name"),
                   -1;
        }
        return refuse(-1, reason, size, std::strerror(error));
    }
    struct stat info {};
    if (fstat(descriptor, &info) != 0) {
        return refuse(descriptor, reason, size, std::strerror(errno));
    }
    // Devices (/dev/null, a terminal) are anybody's; a file or a FIFO must be
    // the monitor's user's own.
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
    return descriptor;
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
            refuse(-1, reason, size, std::strerror(errno));
            return nullptr;
        }
        if (const FileInUse* used = file_in_use(descriptor, in_use, count); used != nullptr) {
            refuse_in_use(descriptor, *used, reason, size);
            return nullptr;
        }
    } else {
        const char* last = nullptr;
        const int directory = parent_without_links(path, &last, reason, size);
        if (directory == -1) {
            return nullptr;
        }
        descriptor = open_in(directory, last, in_use, count, reason, size);
        if (directory != AT_FDCWD) {
            close(directory);
        }
        if (descriptor < 0) {
            return nullptr;
        }
    }
    std::FILE* file = fdopen(descriptor, "wb");
    if (file == nullptr) {
        refuse(descriptor, reason, size, std::strerror(errno));
    }
    return file;
}

// Privileges on Linux. The packet socket needs root or CAP_NET_RAW only to be
// opened and bound; once it is, the monitor gives both up for good, so that
// a fault in the decoding of hostile datagrams cannot use them: it becomes
// the user who started it through sudo (or the --user user), loses every
// capability, and can gain none again (no_new_privs).
//
// Output files are opened so that a symbolic link or another user's file
// standing where the log is to be written is refused, not written through.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.hpp"

namespace {

// Whom to become: `uid`/`gid`, with the supplementary groups of `name` when
// there is one, or just `gid`.
struct TargetUser {
    bool change;
    uid_t uid;
    gid_t gid;
    char name[256];
};

bool fail(char* reason, std::size_t size, const char* what, int error) {
    std::snprintf(reason, size, "%s: %s", what, std::strerror(error));
    return false;
}

// A decimal id from the environment; false when it is missing or not only
// digits, or out of range.
bool id_from_environment(const char* variable, unsigned long* id) {
    const char* text = std::getenv(variable);
    if (text == nullptr || *text == '\0') {
        return false;
    }
    unsigned long value = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || value > 0xFFFFFFFEul / 10u) {
            return false;
        }
        value = value * 10u + static_cast<unsigned long>(*c - '0');
    }
    if (value >= 0xFFFFFFFFul) {  // (uid_t)-1 means "no change" to setuid
        return false;
    }
    *id = value;
    return true;
}

// The user to switch to, from --user or from sudo's SUDO_UID and SUDO_GID.
// Root (by name or uid 0) and no sudo at all mean no change.
bool choose_target(const char* user_name, TargetUser* target, char* reason, std::size_t size) {
    *target = TargetUser{};
    if (user_name != nullptr) {
        errno = 0;
        const passwd* entry = getpwnam(user_name);
        if (entry == nullptr) {
            std::snprintf(reason, size, "no user named \"%s\"%s%s", user_name,
                          errno != 0 ? ": " : "", errno != 0 ? std::strerror(errno) : "");
            return false;
        }
        target->change = entry->pw_uid != 0;
        target->uid = entry->pw_uid;
        target->gid = entry->pw_gid;
        std::snprintf(target->name, sizeof target->name, "%s", entry->pw_name);
        return true;
    }
    // sudo's variables matter only to a monitor sudo made root: any other
    // could not switch users anyway.
    unsigned long uid = 0;
    unsigned long gid = 0;
    if (geteuid() != 0 || !id_from_environment("SUDO_UID", &uid) ||
        !id_from_environment("SUDO_GID", &gid) || uid == 0) {
        return true;
    }
    target->change = true;
    target->uid = static_cast<uid_t>(uid);
    target->gid = static_cast<gid_t>(gid);
    const passwd* entry = getpwuid(target->uid);
    if (entry != nullptr) {
        std::snprintf(target->name, sizeof target->name, "%s", entry->pw_name);
    }
    return true;
}

bool switch_user(const TargetUser& target, char* reason, std::size_t size) {
    if (target.name[0] != '\0') {
        if (initgroups(target.name, target.gid) != 0) {
            return fail(reason, size, "initgroups", errno);
        }
    } else if (setgroups(1, &target.gid) != 0) {
        return fail(reason, size, "setgroups", errno);
    }
    if (setgid(target.gid) != 0) {
        return fail(reason, size, "setgid", errno);
    }
    if (setuid(target.uid) != 0) {
        return fail(reason, size, "setuid", errno);
    }
    if (getuid() != target.uid || geteuid() != target.uid || getgid() != target.gid ||
        getegid() != target.gid) {
        std::snprintf(reason, size, "the user and group ids did not all change");
        return false;
    }
    if (setuid(0) == 0) {
        std::snprintf(reason, size, "root could be regained after switching to uid %lu",
                      static_cast<unsigned long>(target.uid));
        return false;
    }
    return true;
}

// Every capability out of the bounding set (where the process may still do
// that; without CAP_SETPCAP it may not, and its own sets are emptied anyway)
// and the ambient set.
bool drop_inherited_capabilities(char* reason, std::size_t size) {
    const cap_value_t last = static_cast<cap_value_t>(cap_max_bits());
    for (cap_value_t capability = 0; capability < last; ++capability) {
        if (cap_drop_bound(capability) != 0 && errno != EPERM && errno != EINVAL) {
            return fail(reason, size, "dropping the capability bounding set", errno);
        }
    }
    if (cap_reset_ambient() != 0 && errno != EINVAL) {
        return fail(reason, size, "clearing the ambient capabilities", errno);
    }
    return true;
}

bool clear_capabilities(char* reason, std::size_t size) {
    cap_t none = cap_init();
    if (none == nullptr) {
        return fail(reason, size, "cap_init", errno);
    }
    const bool cleared = cap_clear(none) == 0 && cap_set_proc(none) == 0;
    const int error = errno;
    cap_free(none);
    if (!cleared) {
        return fail(reason, size, "clearing the capabilities", error);
    }
    return true;
}

}  // namespace

bool platform_drop_privileges(const char* user_name, char* reason, std::size_t size) {
    TargetUser target{};
    if (!choose_target(user_name, &target, reason, size)) {
        return false;
    }
    if (target.change && target.uid == getuid() && target.uid == geteuid() && getuid() != 0) {
        target.change = false;  // already that user
    }
    if (!drop_inherited_capabilities(reason, size)) {
        return false;
    }
    if (target.change && !switch_user(target, reason, size)) {
        return false;
    }
    if (!clear_capabilities(reason, size)) {
        return false;
    }
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return fail(reason, size, "PR_SET_NO_NEW_PRIVS", errno);
    }
    return true;
}

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

}  // namespace

std::FILE* platform_open_log_file(const char* path, char* reason, std::size_t size) {
    const int own = own_descriptor(path);
    int descriptor = -1;
    if (own >= 0) {
        // Shared with the caller's stream: neither owner-checked nor truncated.
        descriptor = fcntl(own, F_DUPFD_CLOEXEC, 3);
        if (descriptor < 0) {
            return refuse(-1, reason, size, std::strerror(errno));
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

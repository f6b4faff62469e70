// Giving up privileges once the capture socket is open (capabilities(7),
// credentials(7)), and opening output files safely as whoever the monitor
// then is.
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/platform.hpp"

namespace {

bool fail(char* reason, std::size_t size, const char* what, int error) {
    std::snprintf(reason, size, "%s: %s", what, std::strerror(error));
    return false;
}

// A decimal user or group id from the environment; false when absent or not
// a number.
bool id_from_environment(const char* name, unsigned long* id) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0') {
        return false;
    }
    *id = value;
    return true;
}

// Becomes `uid`/`gid` with `name`'s supplementary groups (or only `gid`),
// for good.
bool switch_user(uid_t uid, gid_t gid, const char* name, char* reason, std::size_t size) {
    if (name != nullptr ? initgroups(name, gid) != 0 : setgroups(1, &gid) != 0) {
        return fail(reason, size, "cannot set the supplementary groups", errno);
    }
    if (setresgid(gid, gid, gid) != 0) {
        return fail(reason, size, "cannot set the group", errno);
    }
    if (setresuid(uid, uid, uid) != 0) {
        return fail(reason, size, "cannot set the user", errno);
    }
    if (uid != 0 && (setuid(0) == 0 || seteuid(0) == 0)) {
        std::snprintf(reason, size, "root could be regained after switching to uid %lu",
                      static_cast<unsigned long>(uid));
        return false;
    }
    return true;
}

}  // namespace

bool platform_drop_privileges(const char* user_name, char* reason, std::size_t size) {
    if (user_name != nullptr) {
        const passwd* user = getpwnam(user_name);
        if (user == nullptr) {
            std::snprintf(reason, size, "no such user: %s", user_name);
            return false;
        }
        if (user->pw_uid != 0 &&
            !switch_user(user->pw_uid, user->pw_gid, user_name, reason, size)) {
            return false;
        }
    } else if (unsigned long uid = 0, gid = 0; geteuid() == 0 &&
                                               id_from_environment("SUDO_UID", &uid) &&
                                               id_from_environment("SUDO_GID", &gid) && uid != 0) {
        // Started through sudo: back to the person who asked.
        const passwd* user = getpwuid(static_cast<uid_t>(uid));
        if (!switch_user(static_cast<uid_t>(uid), static_cast<gid_t>(gid),
                         user != nullptr ? user->pw_name : nullptr, reason, size)) {
            return false;
        }
    }
    // No capability is needed any more: the socket is open and configured.
    cap_t none = cap_init();
    if (none == nullptr) {
        return fail(reason, size, "cannot drop the capabilities", errno);
    }
    const int set = cap_set_proc(none);
    const int error = errno;
    cap_free(none);
    if (set != 0) {
        return fail(reason, size, "cannot drop the capabilities", error);
    }
    cap_reset_ambient();
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        return fail(reason, size, "cannot set no_new_privs", errno);
    }
    return true;
}

std::FILE* platform_open_log_file(const char* path, char* reason, std::size_t size) {
    // Not through a symbolic link, created for its owner only, not passed on.
    const int fd = open(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP) {
            std::snprintf(reason, size, "refused: it is a symbolic link");
        } else {
            std::snprintf(reason, size, "%s", std::strerror(error));
        }
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        fail(reason, size, "cannot look at it", errno);
        close(fd);
        return nullptr;
    }
    // Someone else's file is theirs: never written into, never truncated.
    // A device (/dev/stdout, /dev/null) is no one's to refuse.
    if (!S_ISCHR(status.st_mode) && status.st_uid != geteuid()) {
        std::snprintf(reason, size, "refused: it belongs to another user (uid %lu)",
                      static_cast<unsigned long>(status.st_uid));
        close(fd);
        return nullptr;
    }
    if (S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0) {
        fail(reason, size, "cannot truncate it", errno);
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        fail(reason, size, "cannot open it", errno);
        close(fd);
    }
    return file;
}

// Privileges on Linux. The packet socket needs root or CAP_NET_RAW only to be
// opened and bound; once it is, the monitor gives both up for good, so that
// a fault in the decoding of hostile datagrams cannot use them: it becomes
// the user who started it through sudo (or the --user user), loses every
// capability, and can gain none again (no_new_privs).
#include <grp.h>
#include <pwd.h>
#include <sys/capability.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/process.hpp"

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

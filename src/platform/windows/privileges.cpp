// Privileges and output files on Windows: an Administrator's token cannot be
// given up piecemeal by the program itself, so nothing is dropped; the log is
// created as before (owner-only access would take a security descriptor of
// its own, which this build does not make).
#include <cstdio>
#include <cstring>

#include "platform/platform.hpp"

bool platform_drop_privileges(const char* /*user_name*/, char* /*reason*/, std::size_t /*size*/) {
    return true;
}

std::FILE* platform_open_log_file(const char* path, char* reason, std::size_t size) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::snprintf(reason, size, "%s", std::strerror(errno));
    }
    return file;
}

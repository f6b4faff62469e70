// Output files on Windows: created as before; owner-only access would take a
// security descriptor of its own, which this build does not make.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/output_file.hpp"

std::FILE* platform_open_output_file(const char* path, char* reason, std::size_t size) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::snprintf(reason, size, "%s", std::strerror(errno));
    }
    return file;
}

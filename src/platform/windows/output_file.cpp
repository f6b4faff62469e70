// Output files on Windows: created as before; owner-only access would take a
// security descriptor of its own, which this build does not make, and the
// log is told from the other files only by its name.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/output_file.hpp"

// Windows keeps no device and inode numbers in stat; capture files, the only
// inputs an output could be, are not read by this build anyway.
FileIdentity platform_file_identity(const char* /*path*/) {
    return FileIdentity{false, 0, 0};
}

FileIdentity platform_stream_identity(std::FILE* /*stream*/) {
    return FileIdentity{false, 0, 0};
}

std::FILE* platform_open_output_file(const char* path, const FileInUse* /*in_use*/, int /*count*/,
                                     char* reason, std::size_t size) {
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        std::snprintf(reason, size, "%s", std::strerror(errno));
    }
    return file;
}

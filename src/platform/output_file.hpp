// Output files: the log, and a capture file being saved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Which regular file a name or a stream is, to tell two names of one file
// apart from two files; `known` is false for anything else (a device, a pipe,
// a name that cannot be looked at, a platform that cannot tell).
struct FileIdentity {
    bool known;
    std::uint64_t device;
    std::uint64_t inode;
};

// The file `path` names ("-": standard input).
FileIdentity platform_file_identity(const char* path);
FileIdentity platform_stream_identity(std::FILE* stream);

// A file the monitor uses already, which an output file must not be.
struct FileInUse {
    FileIdentity identity;
    const char* what;  // for the reason: "the capture file being read", ...
};

// Opens an output file for writing, created owner-only or truncated: never
// through a symbolic link as its last part, never a file that belongs to
// another user (a device is allowed), never one of the `count` files in
// `in_use` (it is left as it was), not passed on to programs the monitor
// would start. nullptr, with the reason in `reason` (`size` bytes), when it
// is refused or cannot be opened.
std::FILE* platform_open_output_file(const char* path, const FileInUse* in_use, int count,
                                     char* reason, std::size_t size);

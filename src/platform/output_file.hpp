// Output files: the log, and a capture file being saved.
#pragma once

#include <cstddef>
#include <cstdio>

// Opens an output file for writing, created owner-only or truncated: never
// through a symbolic link as its last part, never a file that belongs to
// another user (a device is allowed), not passed on to programs the monitor
// would start. nullptr, with the reason in `reason` (`size` bytes), when it
// is refused or cannot be opened.
std::FILE* platform_open_output_file(const char* path, char* reason, std::size_t size);

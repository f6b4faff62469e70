// Capture files on Windows: this build has no libpcap, so every operation
// fails with one clear reason.
#include <cstdio>

#include "platform/capture_file.hpp"

namespace {

constexpr const char* unsupported = "this build cannot read or write capture files";

void give_reason(char* reason, std::size_t size) {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s", unsupported);
    }
}

}  // namespace

bool platform_capture_files_supported() {
    return false;
}

bool platform_open_capture_file(CaptureFileReader* reader, const char* path, char* reason,
                                std::size_t size) {
    reader->handle = nullptr;
    reader->link_type = 0;
    reader->record = 0;
    reader->original_length = 0;
    std::snprintf(reader->path, sizeof reader->path, "%s", path);
    give_reason(reason, size);
    return false;
}

CaptureFileRead platform_read_capture_file(CaptureFileReader*, PacketBuffer*, WallClock*,
                                           char* reason, std::size_t size) {
    give_reason(reason, size);
    return CaptureFileRead::error;
}

void platform_close_capture_file(CaptureFileReader* reader) {
    reader->handle = nullptr;
}

bool platform_open_save_file(CaptureFileWriter* writer, std::FILE* file, char* reason,
                             std::size_t size) {
    writer->handle = nullptr;
    writer->dumper = nullptr;
    if (file != nullptr && file != stdout) {
        std::fclose(file);
    }
    give_reason(reason, size);
    return false;
}

bool platform_save_datagram(CaptureFileWriter*, const PacketBuffer&, std::uint32_t, WallClock) {
    return false;
}

bool platform_flush_save_file(CaptureFileWriter*) {
    return false;
}

bool platform_close_save_file(CaptureFileWriter* writer) {
    writer->dumper = nullptr;
    return true;
}

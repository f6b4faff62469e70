// Capture files in a build without libpcap (the Windows build): every
// operation fails with one clear reason.
#include <cstdio>

#include "capture_file/capture_file.hpp"

namespace {

constexpr const char* unsupported = "this build cannot read or write capture files";

void give_reason(char* reason, std::size_t size) {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s", unsupported);
    }
}

}  // namespace

bool capture_files_supported() {
    return false;
}

bool open_capture_file(CaptureFileReader* reader, const char* path, char* reason,
                       std::size_t size) {
    reader->handle = nullptr;
    reader->link_type = 0;
    reader->record = 0;
    reader->original_length = 0;
    std::snprintf(reader->path, sizeof reader->path, "%s", path);
    give_reason(reason, size);
    return false;
}

bool open_capture_stream(CaptureFileReader* reader, std::FILE* file, const char* name, char* reason,
                         std::size_t size) {
    if (file != nullptr && file != stdin) {
        std::fclose(file);
    }
    return open_capture_file(reader, name, reason, size);
}

CaptureFileRead read_capture_file(CaptureFileReader*, PacketBuffer*, WallClock*, char* reason,
                                  std::size_t size) {
    give_reason(reason, size);
    return CaptureFileRead::error;
}

void close_capture_file(CaptureFileReader* reader) {
    reader->handle = nullptr;
}

bool open_save_file(CaptureFileWriter* writer, std::FILE* file, char* reason, std::size_t size) {
    writer->handle = nullptr;
    writer->dumper = nullptr;
    if (file != nullptr && file != stdout) {
        std::fclose(file);
    }
    give_reason(reason, size);
    return false;
}

bool save_datagram(CaptureFileWriter*, const PacketBuffer&, std::uint32_t, WallClock) {
    return false;
}

bool flush_save_file(CaptureFileWriter*) {
    return false;
}

bool close_save_file(CaptureFileWriter* writer) {
    writer->dumper = nullptr;
    return true;
}

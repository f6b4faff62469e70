// Capture files, read and written with libpcap (pcap(3PCAP),
// pcap-savefile(5)): any pcap or pcapng file libpcap reads, its frames taken
// apart by net/link_frame.hpp; saved datagrams as a pcap file of LINKTYPE_IPV4
// records.
#include <pcap/pcap.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture_file/capture_file.hpp"
#include "net/link_frame.hpp"

namespace {

// The snap length of saved files: the receive buffer.
constexpr int save_snap_length = packet_buffer_size;
constexpr long nanoseconds_per_second = 1000000000;

void give_reason(char* reason, std::size_t size, const char* text) {
    if (reason != nullptr && size > 0) {
        std::snprintf(reason, size, "%s", text);
    }
}

pcap_t* pcap_of(const CaptureFileReader* reader) {
    return static_cast<pcap_t*>(reader->handle);
}

pcap_dumper_t* dumper_of(const CaptureFileWriter* writer) {
    return static_cast<pcap_dumper_t*>(writer->dumper);
}

// A record's time stamp, read to the nanosecond. A corrupt file may hold a
// fraction of a second or more; it is carried into the seconds.
WallClock record_stamp(const timeval& ts) {
    const long fraction = static_cast<long>(ts.tv_usec);
    const long carried = fraction / nanoseconds_per_second;
    long rest = fraction % nanoseconds_per_second;
    std::int64_t seconds = static_cast<std::int64_t>(ts.tv_sec) + carried;
    if (rest < 0) {
        rest += nanoseconds_per_second;
        seconds -= 1;
    }
    return WallClock{seconds, static_cast<std::int32_t>(rest)};
}

// A reader with nothing read, for the file `name`.
void start_reader(CaptureFileReader* reader, const char* name) {
    reader->handle = nullptr;
    reader->link_type = 0;
    reader->record = 0;
    reader->original_length = 0;
    std::snprintf(reader->path, sizeof reader->path, "%s", name);
}

// True while the save file has had no write error.
bool save_file_good(const CaptureFileWriter* writer) {
    return std::ferror(pcap_dump_file(dumper_of(writer))) == 0;
}

}  // namespace

bool capture_files_supported() {
    return true;
}

// The file is opened here rather than by libpcap, whose reason for a file it
// cannot open names the file again after the caller's line has.
bool open_capture_file(CaptureFileReader* reader, const char* path, char* reason,
                       std::size_t size) {
    const bool standard_input = std::strcmp(path, "-") == 0;
    std::FILE* file = standard_input ? stdin : std::fopen(path, "rb");
    if (file == nullptr) {
        const int error = errno;
        start_reader(reader, path);
        give_reason(reason, size, std::strerror(error));
        return false;
    }
    return open_capture_stream(reader, file, path, reason, size);
}

bool open_capture_stream(CaptureFileReader* reader, std::FILE* file, const char* name, char* reason,
                         std::size_t size) {
    start_reader(reader, name);
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* p = pcap_fopen_offline_with_tstamp_precision(file, PCAP_TSTAMP_PRECISION_NANO, error);
    if (p == nullptr) {
        // libpcap closes the file with the handle, but not one it refused.
        if (file != stdin) {
            std::fclose(file);
        }
        give_reason(reason, size, error);
        return false;
    }
    reader->handle = p;
    reader->link_type = pcap_datalink(p);
    return true;
}

CaptureFileRead read_capture_file(CaptureFileReader* reader, PacketBuffer* packet, WallClock* stamp,
                                  char* reason, std::size_t size) {
    pcap_pkthdr* header = nullptr;
    const u_char* frame = nullptr;
    const int got = pcap_next_ex(pcap_of(reader), &header, &frame);
    if (got == PCAP_ERROR_BREAK) {
        return CaptureFileRead::end;
    }
    if (got != 1) {
        if (reason != nullptr && size > 0) {
            std::snprintf(reason, size, "record %llu: %s",
                          static_cast<unsigned long long>(reader->record + 1),
                          pcap_geterr(pcap_of(reader)));
        }
        return CaptureFileRead::error;
    }
    reader->record += 1;
    const LinkFrameStart start = ipv4_frame_start(reader->link_type, frame, header->caplen);
    if (start.kind != LinkFrameKind::ipv4) {
        return CaptureFileRead::skipped;
    }
    // ipv4_frame_start leaves at least one captured byte after the offset.
    const std::size_t captured = header->caplen - start.offset;
    const std::size_t kept = std::min(captured, std::size_t{packet_buffer_size});
    std::memcpy(packet->bytes, frame + start.offset, kept);
    packet->length = static_cast<int>(kept);
    const std::uint32_t wire =
        header->len > start.offset ? static_cast<std::uint32_t>(header->len - start.offset) : 0;
    reader->original_length = std::max(wire, static_cast<std::uint32_t>(captured));
    *stamp = record_stamp(header->ts);
    return CaptureFileRead::datagram;
}

void close_capture_file(CaptureFileReader* reader) {
    if (reader->handle != nullptr) {
        pcap_close(pcap_of(reader));
        reader->handle = nullptr;
    }
}

bool open_save_file(CaptureFileWriter* writer, std::FILE* file, char* reason, std::size_t size) {
    writer->handle = nullptr;
    writer->dumper = nullptr;
    pcap_t* p = pcap_open_dead_with_tstamp_precision(DLT_IPV4, save_snap_length,
                                                     PCAP_TSTAMP_PRECISION_MICRO);
    if (p == nullptr) {
        give_reason(reason, size, "libpcap could not start a capture file (out of memory)");
        if (file != stdout) {
            std::fclose(file);
        }
        return false;
    }
    // libpcap writes the file header here, and closes the file itself when it
    // cannot (the only way it fails for this link type).
    pcap_dumper_t* dumper = pcap_dump_fopen(p, file);
    if (dumper == nullptr) {
        give_reason(reason, size, pcap_geterr(p));
        pcap_close(p);
        return false;
    }
    writer->handle = p;
    writer->dumper = dumper;
    return true;
}

bool save_datagram(CaptureFileWriter* writer, const PacketBuffer& packet,
                   std::uint32_t original_length, WallClock stamp) {
    const int length = clamp_packet_length(packet.length);
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(stamp.seconds);
    header.ts.tv_usec = static_cast<suseconds_t>(stamp.nanoseconds / 1000);
    header.caplen = static_cast<bpf_u_int32>(length);
    header.len = std::max(original_length, static_cast<bpf_u_int32>(length));
    pcap_dump(static_cast<u_char*>(writer->dumper), &header, packet.bytes);
    return save_file_good(writer);
}

bool flush_save_file(CaptureFileWriter* writer) {
    return pcap_dump_flush(dumper_of(writer)) == 0 && save_file_good(writer);
}

bool close_save_file(CaptureFileWriter* writer) {
    if (writer->dumper == nullptr) {
        return true;
    }
    const bool good = flush_save_file(writer);
    pcap_dump_close(dumper_of(writer));
    pcap_close(static_cast<pcap_t*>(writer->handle));
    writer->dumper = nullptr;
    writer->handle = nullptr;
    return good;
}

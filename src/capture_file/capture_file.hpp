// Capture files: reading the datagrams of a stored capture (pcap or pcapng,
// any link type net/link_frame.hpp takes apart) and saving shown datagrams to
// a pcap file of raw IPv4 records. libpcap reads and writes them
// (libpcap.cpp); a build without libpcap cannot, and says so
// (unavailable.cpp, capture_files_supported). This header includes no
// library header and knows only the datagram layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "net/clock.hpp"
#include "net/packet.hpp"

// False where this build can neither read nor write capture files; every
// function below then fails with the reason "this build cannot read or write
// capture files".
bool capture_files_supported();

// --- Reading -----------------------------------------------------------------

struct CaptureFileReader {
    void* handle;                   // the libpcap handle; null when closed
    int link_type;                  // libpcap's DLT_ number for the file's frames
    std::uint64_t record;           // records read so far: the number of the last one
    std::uint32_t original_length;  // the last datagram's length before any cut
    char path[1024];                // the file's name as given, for messages
};

// Opens a pcap or pcapng file ("-" is standard input, as libpcap has it).
// Time stamps are read to the nanosecond. On failure (missing, unreadable, not
// a capture file) returns false with the reason, which does not name the file:
// the caller's line does.
bool open_capture_file(CaptureFileReader* reader, const char* path, char* reason, std::size_t size);

// The same on `file`, already opened for reading by the caller and at the
// start of the capture; `name` stands for it in messages. The file belongs to
// the reader from this call on, whatever its result: close_capture_file
// closes it, and a failure has closed it already (standard input excepted).
bool open_capture_stream(CaptureFileReader* reader, std::FILE* file, const char* name, char* reason,
                         std::size_t size);

enum class CaptureFileRead {
    datagram,  // `packet` and `stamp` hold the next datagram
    skipped,   // a record without an IPv4 datagram (another protocol, a link type not taken apart)
    end,       // no more records
    error,     // a truncated or corrupt file: the reason names the record, "record N: ..."
};

// Reads the next record. For a datagram, its captured IPv4 bytes are copied to
// `packet->bytes` and `packet->length` is their count, at most 2000 (a longer
// datagram is cut; a record captured shorter than its datagram gives what it
// holds). The bytes beyond the length are left as they were. Nothing is
// allocated.
CaptureFileRead read_capture_file(CaptureFileReader* reader, PacketBuffer* packet, WallClock* stamp,
                                  char* reason, std::size_t size);

void close_capture_file(CaptureFileReader* reader);

// --- Saving ------------------------------------------------------------------

struct CaptureFileWriter {
    void* handle;  // libpcap's handle for the record format
    void* dumper;  // libpcap's writer; null when closed
};

// Starts a pcap file of raw IPv4 records (LINKTYPE_IPV4, snap length 2000,
// microsecond time stamps) on `file`, already opened for writing by the
// caller. The file belongs to the writer from this call on, whatever its
// result: close_save_file closes it, and a failure has closed it
// already (standard output excepted).
bool open_save_file(CaptureFileWriter* writer, std::FILE* file, char* reason, std::size_t size);

// Writes one record: the datagram's `packet.length` bytes as captured, and
// `original_length` as its length before any cut (a value below the captured
// length counts as the captured length). The time stamp is `stamp` to the
// microsecond. False when the file has had a write error.
bool save_datagram(CaptureFileWriter* writer, const PacketBuffer& packet,
                   std::uint32_t original_length, WallClock stamp);

// Writes out what is buffered; false on a write error, now or earlier.
bool flush_save_file(CaptureFileWriter* writer);

// Writes out the rest and closes the file; false on a write error.
bool close_save_file(CaptureFileWriter* writer);

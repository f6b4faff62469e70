// The accounts, written whole and in order, to the log or standard output.
#include "monitor/account_writer.hpp"

#include <cerrno>
#include <cstring>
#include <iterator>

#include "console/failure.hpp"
#include "console/messages.hpp"
#include "platform/output_file.hpp"
#include "render/detail.hpp"
#include "render/hex_dump.hpp"
#include "render/summary.hpp"

namespace {

// The most bytes one account can take in the chosen views.
std::size_t account_limit(const MonitorOptions& options) {
    const std::size_t view = options.show_detail != 0 ? detail_size_limit : summary_size_limit;
    return view + (options.show_dump != 0 ? hex_dump_size_limit : 0);
}

// Writes out what the accounts' stream holds; false, after a line saying why,
// when it did not get out.
bool write_out_stream(AccountWriter* writer) {
    errno = 0;
    if (std::fflush(writer->stream) == 0 && std::ferror(writer->stream) == 0) {
        writer->pending = 0;
        return true;
    }
    const int error = errno != 0 ? errno : EIO;
    if (writer->log_path != nullptr) {
        report_failure_on(writer->console, "log file %s: %s", writer->log_path,
                          std::strerror(error));
    } else {
        report_failure_on(writer->console, "standard output: %s", std::strerror(error));
    }
    return false;
}

// Says once that the saved capture cannot be written.
bool cannot_write_saved_capture(AccountWriter* writer) {
    if (!writer->save_failed) {
        report_failure_on(writer->console, "capture file %s: cannot write it", writer->save_path);
        writer->save_failed = true;
    }
    return false;
}

}  // namespace

void start_accounts(AccountWriter* writer, const MonitorOptions& options, const Console& console) {
    writer->console = console;
    writer->stream = console.stream;
    writer->log_path = nullptr;
    writer->save_path = nullptr;
    writer->save_failed = false;
    writer->detail = options.show_detail != 0;
    writer->dump = options.show_dump != 0;
    writer->limit = account_limit(options);
    writer->pending = 0;
    writer->holding = false;
    writer->held_since_ns = 0;
    writer->clock = LocalClock{};
    writer->written = 0;
    writer->in_use_count = 0;
}

void keep_outputs_from(AccountWriter* writer, FileIdentity identity, const char* what) {
    if (writer->in_use_count < static_cast<int>(std::size(writer->in_use))) {
        writer->in_use[writer->in_use_count++] = FileInUse{identity, what};
    }
}

bool open_log(AccountWriter* writer, const char* path, const MonitorOptions& options) {
    // Seen before the open, which waits for a reader on a FIFO.
    std::fflush(writer->console.stream);
    char reason[512];
    std::FILE* log = platform_open_output_file(path, writer->in_use, writer->in_use_count, reason,
                                               sizeof reason);
    if (log == nullptr) {
        console_text(writer->console, msg_log_open_failed);
        report_failure_on(writer->console, "log file %s: %s", path, reason);
        return false;
    }
    std::setvbuf(log, writer->log_buffer, _IOFBF, sizeof writer->log_buffer);
    writer->stream = log;
    writer->log_path = path;
    keep_outputs_from(writer, platform_stream_identity(log), "the log");
    print_options(log, options);
    return write_out_stream(writer);
}

bool open_saved_capture(AccountWriter* writer, const char* path) {
    char reason[512];
    std::FILE* file = platform_open_output_file(path, writer->in_use, writer->in_use_count, reason,
                                                sizeof reason);
    if (file == nullptr) {
        report_failure_on(writer->console, "capture file %s: %s", path, reason);
        return false;
    }
    return open_saved_capture_on(writer, file, path);
}

bool open_saved_capture_on(AccountWriter* writer, std::FILE* file, const char* path) {
    char reason[512];
    if (!open_save_file(&writer->save, file, reason, sizeof reason)) {
        report_failure_on(writer->console, "capture file %s: %s", path, reason);
        return false;
    }
    writer->save_path = path;
    // Its file header now: a file saved from an idle interface is a capture
    // of nothing, not an empty file.
    return flush_save_file(&writer->save) || cannot_write_saved_capture(writer);
}

bool write_account(AccountWriter* writer, const PacketBuffer& packet, const Datagram& datagram,
                   std::int64_t now_ns) {
    // The buffer never takes part of an account: it is written out first
    // when the next one might not fit whole.
    if (writer->pending + writer->limit > account_buffer_size && !write_out_stream(writer)) {
        return false;
    }
    const LocalTime time = local_time_of(&writer->clock, datagram.stamp);
    if (writer->detail) {
        print_detail(writer->stream, packet.bytes, packet.length, time);
    } else {
        print_summary(writer->stream, packet.bytes, packet.length, time);
    }
    if (writer->dump) {
        print_hex_dump(writer->stream, packet.bytes, packet.length);
    }
    writer->pending += writer->limit;
    if (writer->save_path != nullptr &&
        !save_datagram(&writer->save, packet, datagram.original_length, datagram.stamp)) {
        return cannot_write_saved_capture(writer);
    }
    if (!writer->holding) {
        writer->holding = true;
        writer->held_since_ns = now_ns;
    }
    ++writer->written;
    return true;
}

bool hold_is_over(const AccountWriter& writer, std::int64_t now_ns) {
    return writer.holding && now_ns - writer.held_since_ns >= hold_limit_ns;
}

bool write_out_accounts(AccountWriter* writer) {
    writer->holding = false;
    bool written = write_out_stream(writer);
    if (writer->save_path != nullptr && !flush_save_file(&writer->save)) {
        written = cannot_write_saved_capture(writer);
    }
    return written;
}

bool close_saved_capture(AccountWriter* writer) {
    if (writer->save_path == nullptr) {
        return true;
    }
    const bool closed = close_save_file(&writer->save) || cannot_write_saved_capture(writer);
    writer->save_path = nullptr;
    return closed;
}

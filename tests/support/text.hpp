// Text for the tests: files read and written whole, what is written to a
// stream, and the start-up banner every run of the monitor begins with.
#pragma once

#include <cstdio>
#include <string>

namespace test_support {

// The whole file; empty when it cannot be read (`found` says which, when
// given).
std::string read_file(const std::string& path, bool* found = nullptr);

void write_file(const std::string& path, const std::string& text);

// Everything written to the seekable `stream` so far (written out first);
// the stream is left at its end.
std::string text_of(std::FILE* stream);

// A temporary file that is gone when closed, safe to make from several
// processes at once; nullptr (after a line on standard error) when none can
// be made.
std::FILE* temporary_stream();

// A temporary stream holding `bytes` (zero bytes included), read from its
// start; nullptr when none can be made.
std::FILE* stream_holding(const std::string& bytes);

// A stream that discards what is written to it, opened once for the process;
// nullptr when it cannot be opened.
std::FILE* null_stream();

// What `print` writes to a stream.
template <typename Print>
std::string printed(Print print) {
    std::FILE* stream = temporary_stream();
    if (stream == nullptr) {
        return {};
    }
    print(stream);
    std::string text = text_of(stream);
    std::fclose(stream);
    return text;
}

// The usage text and the two network-layer lines every start begins with.
std::string start_banner();

}  // namespace test_support

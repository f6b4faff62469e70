// Temporary files standing in for the console in the configuration tests.
#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "console/console_text.hpp"
#include "support/text.hpp"

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using TempFile = std::unique_ptr<std::FILE, FileCloser>;

// An empty temporary file to write into.
inline TempFile output_file() {
    return TempFile(test_support::temporary_stream());
}

// A temporary file holding `content` (zero bytes included), read from the start.
inline TempFile input_file(const std::string& content) {
    return TempFile(test_support::stream_holding(content));
}

// Everything written to `file` so far.
inline std::string contents(std::FILE* file) {
    return test_support::text_of(file);
}

// `file` as the console, its Japanese text in `encoding`, its failure lines
// on `errors`.
inline Console console_on(std::FILE* file, ConsoleEncoding encoding = ConsoleEncoding::utf8,
                          std::FILE* errors = stderr) {
    return Console{file, encoding, errors};
}

// The options report for the given values, written out independently of
// print_options. Addresses are dotted text.
inline std::string expected_report(bool detail, bool dump, const std::string& log,
                                   const std::string& listen, const std::string& range_first,
                                   const std::string& range_last, unsigned port) {
    return "OPTIONS\n"
           "Show header detail   " +
           std::string(detail ? "Yes" : "no") +
           "\n"
           "Show dump            " +
           std::string(dump ? "Yes" : "no") +
           "\n"
           "logfile              " +
           (log.empty() ? std::string("<no>") : log) +
           "\n"
           "Listen address       " +
           listen +
           "\n"
           "\n"
           "Filtering address    " +
           range_first + " - " + range_last +
           "\n"
           "Filtering port       " +
           std::to_string(port) + "\n";
}

// Failure lines and notes on standard error, one shape for all of them.
#include "console/failure.hpp"

#include <cstdarg>
#include <cstdio>

namespace {

PKTWATCH_PRINTF(3, 0)
void report(std::FILE* before, std::FILE* errors, const char* format, std::va_list arguments) {
    std::fflush(before);
    char text[1024];
    std::vsnprintf(text, sizeof text, format, arguments);
    std::fprintf(errors, "pktwatch: %s\n", text);
}

}  // namespace

void report_failure_on(const Console& console, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    report(console.stream, console.errors, format, arguments);
    va_end(arguments);
}

void report_note_on(const Console& console, const char* format, ...) {
    std::va_list arguments;
    va_start(arguments, format);
    report(console.stream, console.errors, format, arguments);
    va_end(arguments);
}

// Failure lines: how the program says on standard error that something went
// wrong. Whatever the console's stream holds is written out first, so that
// what came before the failure is seen before it; then one line, "pktwatch: "
// and the text. A note (what the monitor says without failing: the kernel's
// drops, the counts at the end) takes the same shape.
#pragma once

#include "console/console_text.hpp"

// On `console`'s stream and its error stream (standard output and standard
// error for the program's own console).
void report_failure_on(const Console& console, const char* format, ...) PKTWATCH_PRINTF(2, 3);

void report_note_on(const Console& console, const char* format, ...) PKTWATCH_PRINTF(2, 3);

// The question-and-answer set-up used when pktwatch starts without arguments.
#pragma once

#include <cstdint>
#include <cstdio>

#include "config/options.hpp"

// Asks the questions on `out`, reads the answers from `in`, fills `options`;
// the local address is chosen from `found`. set_up_done, or set_up_failed (no
// local address chosen, or input ended).
SetUpResult run_setup_dialogue(MonitorOptions& options, const LocalAddresses& found, std::FILE* in,
                               const Console& out);

// Prints `question` unchanged, reads one line, and answers 1 or 0.
int ask_yes_no(const char* question, int default_answer, std::FILE* in, const Console& out);

// Lists the addresses of `found` and lets the user choose one; 0 when none.
std::uint32_t choose_local_address(const LocalAddresses& found, std::FILE* in, const Console& out);

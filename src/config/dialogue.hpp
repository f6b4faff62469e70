// The question-and-answer set-up used when pktwatch starts without arguments.
#pragma once

#include <cstdint>
#include <cstdio>

#include "config/options.hpp"

// Asks the questions on `out`, reads the answers from `in`, fills `options`.
// 1 on success, -1 on failure (no local address chosen, or input ended).
int run_setup_dialogue(MonitorOptions& options, std::FILE* in = stdin, std::FILE* out = stdout);

// Prints `question` unchanged, reads one line, and answers 1 or 0.
int ask_yes_no(const char* question, int default_answer, std::FILE* in = stdin,
               std::FILE* out = stdout);

// Lists the local addresses and lets the user choose one; 0 when none.
std::uint32_t choose_local_address(std::FILE* in = stdin, std::FILE* out = stdout);

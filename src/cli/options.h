// Command-line parsing into the Context, banner and usage text.
#pragma once

#include "cli/context.h"
#include "cli/version.h"

constexpr const char* BANNER_TEXT = "VemTool " VEMTOOL_VERSION " - VEM image utility\n";

void print_banner();
void print_usage();

// Creates the Context into `ctx_slot` (kept even on failure, so the caller
// releases it) and fills it from the command line. 0 or the reported error.
int parse_options(int argc, char** argv, Context*& ctx_slot);

// The one reader of numeric values: decimal, 0-prefixed octal or 0x hex.
// -1 for a negative value and for text that yields 0 with characters left.
int parse_number(const char* text);

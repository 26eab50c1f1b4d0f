// Command-line parsing into the Context through one table of commands and one
// of options; the banner and usage text.
#pragma once

#include "cli/context.h"
#include "cli/version.h"

constexpr const char* BANNER_TEXT = "VemTool " VEMTOOL_VERSION " - VEM image utility\n";

// What a run uses when the command line does not say.
constexpr int DEFAULT_IMAGE_SIZE = 512 * 1024;
constexpr int DEFAULT_DIR_ITEMS = 32;
constexpr int DEFAULT_START_ADDRESS = 0;

void print_banner();
void print_usage();

// Creates the Context into `ctx_slot` (kept even on failure, so the caller
// releases it) and fills it from the command line. 0 or the reported error.
int parse_options(int argc, char** argv, Context*& ctx_slot);

// Runs the handler of the command parse_options selected; 0 without one.
int run_selected_command(Context& ctx);

// The usage line of each command, in table order, for `program`.
void print_command_forms(const char* program);

#pragma once

#include "cli/context.h"

// The whole run: banner, options, one command, clean-up. Returns the exit
// status. Tests build a second program that commits in the reference mode.
int run_vemtool(int argc, char** argv, CommitMode mode = CommitMode::minimal);

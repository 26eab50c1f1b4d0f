#pragma once

#include "cli/context.h"

// The whole run: banner, options, one command, clean-up. Returns the exit
// status.
int run_vemtool(int argc, char** argv);

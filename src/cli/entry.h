#pragma once

// The whole run: banner, options, one command, clean-up. Returns the exit status.
int run_vemtool(int argc, char** argv);

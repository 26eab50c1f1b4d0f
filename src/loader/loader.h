// Loader files: a template patched with the names to load, stored as a file.
#pragma once

#include "cli/context.h"

constexpr int LOADER_MAX_SIZE = 246;
constexpr int LOADER_MIN_SIZE = 33;  // the patched fields end at byte 32
constexpr int LOADER_LOAD_ADDRESS = 0x7F00;

int make_loader(Context& ctx);       // -ml
int show_loader_info(Context& ctx);  // -li

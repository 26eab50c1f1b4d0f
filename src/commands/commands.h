// Handlers of the file commands. Each returns 0 or a reported error code.
#pragma once

#include "cli/context.h"

int show_catalogue(Context& ctx);    // -c
int add_file(Context& ctx);          // -fa, -fr, and the end of -fc, -fl, -ml
int add_complex_file(Context& ctx);  // -fc, and each line of -fl
int add_file_list(Context& ctx);     // -fl
int change_file(Context& ctx);       // -fp
int delete_files(Context& ctx);      // -fd
int extract_files(Context& ctx);     // -fx

// Commands that work on an image as a whole.
#pragma once

#include "cli/context.h"

int create_image(Context& ctx);       // -ic
int reconfigure_image(Context& ctx);  // -ir
int show_image_info(Context& ctx);    // -ii

// The geometry lines that -ir and -ii print for the image in ctx.
void print_geometry(const Context& ctx);

// Sizes in kB as the tool prints them with %g.
inline double kilobytes(long bytes) { return static_cast<double>(bytes) * (1.0 / 1024); }

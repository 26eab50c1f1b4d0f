// Commands that work on an image as a whole.
#pragma once

#include "cli/context.h"

// Each runs one command on ctx.image_name and returns 0 or the reported error.
int create_image(Context& ctx);       // -ic
int reconfigure_image(Context& ctx);  // -ir
int show_image_info(Context& ctx);    // -ii
int verify_image(Context& ctx);       // -iv, -iv -fix

// The geometry lines that -ir and -ii print for the image in ctx.
void print_geometry(const Context& ctx);

// Preparing Booter code in ctx.boot_area for writing into an image.
#pragma once

#include "cli/context.h"

// Checks the Booter code of `length` bytes and pads it with 0xFF to whole
// sectors. The new length, or ERR_INVALID_BOOT reported with ctx.boot_file.
int prepare_boot(Context& ctx, int length, int from_file);

// Puts the geometry of ctx into header bytes 12..15 of ctx.boot_area.
void put_geometry(Context& ctx);

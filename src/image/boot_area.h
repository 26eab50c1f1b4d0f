// The boot area: checking Booter code and preparing it in ctx.boot_area for
// writing into an image.
#pragma once

#include "cli/context.h"
#include "cli/modes.h"

// Checks the boot signature in ctx.boot_area. 0, or ERR_INVALID_BOOT
// reported without a name for an image and with ctx.boot_file for a file.
int check_boot(Context& ctx, BootOrigin origin);

// Checks the Booter code of `length` bytes in ctx.boot_area (and, with
// CHECK_MIN_LENGTH, that it is long enough) and pads it with 0xFF to whole
// sectors. The padded length, or ERR_INVALID_BOOT reported with ctx.boot_file.
int prepare_boot(Context& ctx, int length, BootLength check);

// Puts the geometry of ctx into header bytes 12..15 of ctx.boot_area.
void put_geometry(Context& ctx);

#include "image/image_format.h"

#include "cli/context.h"

void set_geometry(Context& ctx, int boot_sectors, int dir_items, int image_size) {
  ctx.boot_sectors = boot_sectors;
  ctx.boot_size = boot_sectors * SECTOR_SIZE;
  ctx.dir_items = dir_items;
  ctx.dir_sectors = dir_items / ENTRIES_PER_SECTOR;
  ctx.image_size = image_size;
}

int directory_bytes(const Context& ctx) { return ctx.dir_items * DIR_ENTRY_SIZE; }

long slot_offset(const Context& ctx, int slot) {
  return sector_offset(ctx.boot_sectors) + static_cast<long>(slot) * DIR_ENTRY_SIZE;
}

long data_area_offset(const Context& ctx) {
  return sector_offset(ctx.boot_sectors) + sector_offset(ctx.dir_sectors);
}

int capacity(const Context& ctx) { return ctx.image_size - ctx.boot_size - directory_bytes(ctx); }

long free_bytes(const Context& ctx) {
  return static_cast<long>(ctx.image_size) - sector_offset(ctx.used_sectors);
}

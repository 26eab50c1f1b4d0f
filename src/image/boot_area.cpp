#include "image/boot_area.h"

#include <cstring>

#include "cli/errors.h"
#include "image/directory.h"

int prepare_boot(Context& ctx, int length, int from_file) {
  if (from_file && length < MIN_BOOTER_SIZE) return report_error(ERR_INVALID_BOOT, ctx.boot_file.data());
  const int result = check_boot(ctx, 0);
  if (result != 0) return result;
  const int padded = round_to_sectors(length);
  std::memset(ctx.boot_area + length, FREE_SECTOR_FILL, static_cast<std::size_t>(padded - length));
  return padded;
}

void put_geometry(Context& ctx) {
  ctx.boot_area[HDR_BOOT_SECTORS] = static_cast<std::uint8_t>(ctx.boot_sectors & 0xFF);
  ctx.boot_area[HDR_DIR_SECTORS] = static_cast<std::uint8_t>((ctx.dir_items / ENTRIES_PER_SECTOR) & 0xFF);
  const int last_sector = ctx.image_size / SECTOR_SIZE - 1;
  ctx.boot_area[HDR_LAST_SECTOR] = static_cast<std::uint8_t>(last_sector & 0xFF);
  ctx.boot_area[HDR_LAST_SECTOR + 1] = static_cast<std::uint8_t>((last_sector >> 8) & 0xFF);
}

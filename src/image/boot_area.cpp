#include "image/boot_area.h"

#include <algorithm>
#include <cstring>

#include "cli/errors.h"
#include "image/directory.h"

int check_boot(Context& ctx, BootOrigin origin) {
  const bool signature_ok =
      std::equal(BOOT_SIGNATURE.begin(), BOOT_SIGNATURE.end(), ctx.boot_area) &&
      ctx.boot_area[HDR_JUMP_OPCODE] == JUMP_OPCODE;
  if (signature_ok) return 0;
  return report_error(ERR_INVALID_BOOT, origin == BOOT_FROM_IMAGE ? nullptr : ctx.boot_file.data());
}

int prepare_boot(Context& ctx, int length, BootLength check) {
  if (check == CHECK_MIN_LENGTH && length < MIN_BOOTER_SIZE)
    return report_error(ERR_INVALID_BOOT, ctx.boot_file.data());
  const int result = check_boot(ctx, BOOT_FROM_FILE);
  if (result != 0) return result;
  const int padded = round_to_sectors(length);
  std::memset(ctx.boot_area + length, FREE_SECTOR_FILL, static_cast<std::size_t>(padded - length));
  return padded;
}

void put_geometry(Context& ctx) {
  ctx.boot_area[HDR_BOOT_SECTORS] = static_cast<std::uint8_t>(ctx.boot_sectors & 0xFF);
  ctx.boot_area[HDR_DIR_SECTORS] =
      static_cast<std::uint8_t>((ctx.dir_items / ENTRIES_PER_SECTOR) & 0xFF);
  put_u16(ctx.boot_area + HDR_LAST_SECTOR, ctx.image_size / SECTOR_SIZE - 1);
}

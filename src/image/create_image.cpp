#include <cstdio>
#include <cstring>

#include "image/boot_area.h"
#include "image/file_io.h"
#include "image/image_commands.h"

namespace {

// Writes `count` sectors of `fill` from `offset` on, one sector per call.
int fill_sectors(Context& ctx, std::uint8_t fill, long offset, int count) {
  std::memset(ctx.work_buffer, fill, SECTOR_SIZE);
  for (int i = 0; i < count; ++i) {
    const int result = write_image_at(ctx, ctx.work_buffer, offset + static_cast<long>(i) * SECTOR_SIZE,
                                      SECTOR_SIZE);
    if (result != 0) return result;
  }
  return 0;
}

}  // namespace

int create_image(Context& ctx) {
  std::printf("Creating VEM image: %s\n", ctx.image_name);
  ctx.image_size = ctx.image_size_opt;
  ctx.dir_items = ctx.dir_items_opt;
  ctx.dir_sectors = ctx.dir_items / ENTRIES_PER_SECTOR;
  int result = open_image(ctx, 1);
  if (result != 0) return result;
  const int length = read_host_file(ctx.boot_file.data(), ctx.boot_area, BOOT_AREA_SIZE);
  if (length < 0) return length;
  const int boot_size = prepare_boot(ctx, length, 1);
  if (boot_size < 0) return boot_size;
  ctx.boot_size = boot_size;
  ctx.boot_sectors = boot_size / SECTOR_SIZE;

  const int directory_bytes = ctx.dir_items * DIR_ENTRY_SIZE;
  const int capacity = ctx.image_size - (ctx.boot_size + directory_bytes);
  result = write_boot_area(ctx);
  if (result == 0) {
    result = fill_sectors(ctx, EMPTY_ENTRY_FILL, ctx.boot_size, directory_bytes / SECTOR_SIZE);
  }
  if (result == 0) {
    result = fill_sectors(ctx, FREE_SECTOR_FILL, ctx.boot_size + directory_bytes, capacity / SECTOR_SIZE);
  }
  if (result == 0) result = flush_image(ctx);
  if (result != 0) return result;

  std::printf("VEM image size: %g kB (%d sectors)\n", kilobytes(ctx.image_size), ctx.image_size / SECTOR_SIZE);
  std::printf("VEM BOOT file: %s\n", ctx.boot_file.data());
  std::printf("VEM Boot size: %d bytes\n", ctx.boot_size);
  std::printf("Directory items: %d (%d bytes)\n", ctx.dir_items, directory_bytes);
  std::printf("Capacity: %g kB (%d secotrs)\n", kilobytes(capacity), capacity / SECTOR_SIZE);
  return 0;
}

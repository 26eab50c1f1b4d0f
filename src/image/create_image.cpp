#include <cstdio>

#include "image/boot_area.h"
#include "image/commit.h"
#include "image/file_io.h"
#include "image/image_commands.h"
#include "image/recovery.h"

int create_image(Context& ctx) {
  std::printf("Creating VEM image: %s\n", ctx.image_name);
  set_geometry(ctx, 0, ctx.dir_items_opt, ctx.image_size_opt);
  int result = open_image(ctx, RECREATE);
  if (result != 0) return result;
  // The Booter is read and checked before an existing image is touched: a
  // mistyped Booter name must not cost the user the image.
  const int length = read_host_file(ctx.boot_file.data(), ctx.boot_area, BOOT_AREA_SIZE);
  if (length < 0) return length;
  const int boot_size = prepare_boot(ctx, length, CHECK_MIN_LENGTH);
  if (boot_size < 0) return boot_size;
  set_geometry(ctx, boot_size / SECTOR_SIZE, ctx.dir_items, ctx.image_size);
  const int directory_size = directory_bytes(ctx);
  const int data_size = capacity(ctx);
  put_geometry(ctx);
  CommitPlan plan;
  plan.whole_image = true;
  plan.length = ctx.image_size;
  plan.writes = {bytes_write(0, ctx.boot_size, ctx.boot_area, SECTOR_SIZE),
      fill_write(slot_offset(ctx, 0), directory_size, EMPTY_ENTRY_FILL),
      fill_write(data_area_offset(ctx), data_size, FREE_SECTOR_FILL)};
  result = commit(ctx, plan);
  if (result != 0) return result;

  std::printf("VEM image size: %g kB (%d sectors)\n", kilobytes(ctx.image_size),
      ctx.image_size / SECTOR_SIZE);
  std::printf("VEM BOOT file: %s\n", ctx.boot_file.data());
  std::printf("VEM Boot size: %d bytes\n", ctx.boot_size);
  std::printf("Directory items: %d (%d bytes)\n", ctx.dir_items, directory_size);
  std::printf("Capacity: %g kB (%d secotrs)\n", kilobytes(data_size), data_size / SECTOR_SIZE);
  return 0;
}

#include <cstdio>

#include "image/directory.h"
#include "image/image_commands.h"

void print_geometry(const Context& ctx) {
  std::printf("VEM image size: %g kB (%d sectors)\n", kilobytes(ctx.image_size),
      ctx.image_size / SECTOR_SIZE);
  std::printf("VEM BOOT size: %d bytes\n", ctx.boot_size);
  std::printf("Directory items: %d (%d bytes)\n", ctx.dir_items, directory_bytes(ctx));
  std::printf(
      "Capacity: %g kB (%d secotrs)\n", kilobytes(capacity(ctx)), capacity(ctx) / SECTOR_SIZE);
}

int show_image_info(Context& ctx) {
  std::printf("VEM image info: %s\n", ctx.image_name);
  int result = open_and_load(ctx);
  if (result != 0) return result;
  const long unused = free_bytes(ctx);
  print_geometry(ctx);
  std::printf("\nFiles: %d\n", ctx.used_entries);
  std::printf("Used space: %g kB\n", kilobytes(capacity(ctx) - unused));
  std::printf("Free space: %g kB", kilobytes(unused));
  return 0;
}

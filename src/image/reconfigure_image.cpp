#include <cstdio>
#include <string>

#include "cli/errors.h"
#include "image/boot_area.h"
#include "image/directory.h"
#include "image/file_io.h"
#include "image/image_commands.h"
#include "names/name81.h"

namespace {

void print_changes(const Context& ctx) {
  if (ctx.boot_file_given) std::printf("  New VEM BOOT file: %s\n", ctx.boot_file.data());
  if (ctx.dir_items_opt != ctx.dir_items) {
    std::printf("  Directory items: %d -> %d\n", ctx.dir_items, ctx.dir_items_opt);
  }
  if (ctx.image_size_opt != ctx.image_size) {
    std::printf("  VEM image size: %g kB -> %g kB\n", kilobytes(ctx.image_size), kilobytes(ctx.image_size_opt));
  }
  std::printf("\n");
}

// Would the files survive the new geometry? Besides the span of the highest
// file, the packed total counts too: entries made elsewhere may overlap.
bool content_fits(const Context& ctx, int boot_length) {
  const long new_directory = static_cast<long>(ctx.dir_items_opt) * DIR_ENTRY_SIZE;
  const long span = static_cast<long>(ctx.used_sectors) * SECTOR_SIZE -
                    (static_cast<long>(ctx.dir_items) * DIR_ENTRY_SIZE + ctx.boot_size);
  if (ctx.dir_items_opt != ctx.dir_items && ctx.dir_items_opt < ctx.used_entries) return false;
  if (span + new_directory + boot_length > ctx.image_size_opt) return false;
  return packed_end(ctx, boot_length + new_directory) <= ctx.image_size_opt;
}

// Every file's data must be readable before the image is given up.
int check_all_data(Context& ctx) {
  for (const EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    const int result = check_image_range(ctx, node->data_offset, node->rounded_length);
    if (result != 0) return result;
  }
  return 0;
}

// Moves the image aside as the temporary copy. A rename keeps the old bytes
// without copying them; where it cannot, the image is copied.
int set_image_aside(Context& ctx, const char* temporary) {
  if (remove_denied(temporary)) return report_error(ERR_ACCESS_WRITE, temporary);
  if (std::rename(ctx.image_name, temporary) == 0) return 0;
  return copy_host_file(temporary, ctx.image_name);
}

int rebuild(Context& ctx, int boot_length) {
  int result = check_all_data(ctx);
  if (result != 0) return result;
  const std::string temporary = std::string(ctx.image_name) + ".tmp";
  PathField temporary_name{};
  if (!copy_path(temporary_name, temporary.c_str())) {
    return report_error(ERR_OPEN_WRITE, temporary.c_str());
  }
  close_image(ctx);
  result = set_image_aside(ctx, temporary_name.data());
  if (result != 0) return result;
  // From here the temporary copy is the only full copy of the old image.
  BufferedFile old_image;
  if (!open_buffered(old_image, temporary_name.data(), "rb", 0)) {
    std::rename(temporary_name.data(), ctx.image_name);  // nothing was changed yet: put it back
    return report_error(ERR_OPEN_READ, temporary_name.data());
  }
  result = open_image(ctx, 1);
  if (result != 0) return result;
  ctx.boot_size = boot_length;
  ctx.boot_sectors = boot_length / SECTOR_SIZE;
  ctx.dir_items = ctx.dir_items_opt;
  ctx.image_size = ctx.image_size_opt;
  ctx.dir_sectors = ctx.dir_items / ENTRIES_PER_SECTOR;
  result = write_boot_area(ctx);
  const DataSource source{old_image.file.get(), temporary_name.data()};
  if (result == 0) result = write_back(ctx, 0, &source);
  if (result != 0) return result;
  old_image.file.reset();

  print_geometry(ctx);
  if (remove_denied(temporary_name.data())) report_error(ERR_ACCESS_WRITE, temporary_name.data());
  return 0;
}

}  // namespace

int reconfigure_image(Context& ctx) {
  std::printf("Reconfiguring VEM image: %s\n", ctx.image_name);
  int result = open_and_load(ctx);
  if (result != 0) return result;
  const bool same_geometry = ctx.dir_items_opt == ctx.dir_items && ctx.image_size_opt == ctx.image_size;
  if (!ctx.boot_file_given && same_geometry) {
    std::printf("No changes in Image Geometry nor Boot code!\n");
    return 0;
  }
  print_changes(ctx);

  int length = 0;
  if (ctx.boot_file_given) {
    length = read_host_file(ctx.boot_file.data(), ctx.boot_area, BOOT_AREA_SIZE);
  } else {
    length = ctx.boot_size;
    result = read_image_at(ctx, ctx.boot_area, 0, ctx.boot_size);
    if (result != 0) return result;
  }
  if (length < 0) return length;
  const int boot_length = prepare_boot(ctx, length, ctx.boot_file_given);
  if (boot_length < 0) return boot_length;

  if (ctx.boot_file_given && same_geometry && boot_length == ctx.boot_size) {
    // Only the boot code changes: the directory and data stay where they are.
    result = write_boot_area(ctx);
    return result != 0 ? result : flush_image(ctx);
  }
  if (!content_fits(ctx, boot_length)) return report_error(ERR_GEOMETRY_TOO_SMALL);
  return rebuild(ctx, boot_length);
}

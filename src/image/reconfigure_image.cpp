#include <cstdio>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "image/boot_area.h"
#include "image/commit.h"
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
    std::printf("  VEM image size: %g kB -> %g kB\n", kilobytes(ctx.image_size),
        kilobytes(ctx.image_size_opt));
  }
  std::printf("\n");
}

// Would the files survive the new geometry? Besides the span of the highest
// file, the packed total counts too: entries made elsewhere may overlap.
bool content_fits(const Context& ctx, int boot_length) {
  const long new_directory = static_cast<long>(ctx.dir_items_opt) * DIR_ENTRY_SIZE;
  const long span = sector_offset(ctx.used_sectors) - data_area_offset(ctx);
  if (ctx.dir_items_opt != ctx.dir_items && ctx.dir_items_opt < ctx.used_entries) return false;
  if (span + new_directory + boot_length > ctx.image_size_opt) return false;
  return packed_end(ctx, boot_length + new_directory) <= ctx.image_size_opt;
}

// Every file's data must be readable before the image is given up; a file
// of length 0 has none.
int check_all_data(Context& ctx) {
  for (const EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    if (node->rounded_length == 0) continue;
    const int result = check_image_range(ctx, node->data_offset, node->rounded_length);
    if (result != 0) return result;
  }
  return 0;
}

int rebuild(Context& ctx, int boot_length) {
  int result = check_all_data(ctx);
  if (result != 0) return result;
  const std::string temporary = temporary_copy_name(ctx.image_path.c_str());
  PathField temporary_name{};
  if (!copy_path(temporary_name, temporary.c_str())) {
    return report_error(ERR_OPEN_WRITE, temporary.c_str());
  }
  // A leftover copy is replaced; one that cannot be is refused before any change.
  if (remove_file(temporary_name.data()) == RemoveOutcome::denied)
    return report_error(ERR_ACCESS_WRITE, temporary_name.data());

  set_geometry(ctx, boot_length / SECTOR_SIZE, ctx.dir_items_opt, ctx.image_size_opt);
  // The files stream from the old image into the new one.
  result = place_entries(ctx, MOVED_DATA_IN_IMAGE);
  if (result != 0) return result;
  put_geometry(ctx);
  CommitPlan plan;
  plan.whole_image = true;
  plan.length = ctx.image_size;
  plan.previous = PreviousImage::temporary_copy;
  plan.writes.push_back(bytes_write(0, ctx.boot_size, ctx.boot_area, SECTOR_SIZE));
  std::vector<std::uint8_t> directory;
  plan_packed_layout(ctx, plan, directory, ALL_DATA);
  result = commit(ctx, plan);
  if (result != 0) return result;

  print_geometry(ctx);
  if (remove_file(temporary_name.data()) == RemoveOutcome::denied)
    report_error(ERR_ACCESS_WRITE, temporary_name.data());
  return 0;
}

}  // namespace

int reconfigure_image(Context& ctx) {
  std::printf("Reconfiguring VEM image: %s\n", ctx.image_name);
  int result = open_and_load(ctx);
  if (result != 0) return result;
  const bool same_geometry =
      ctx.dir_items_opt == ctx.dir_items && ctx.image_size_opt == ctx.image_size;
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
  const int boot_length =
      prepare_boot(ctx, length, ctx.boot_file_given ? CHECK_MIN_LENGTH : LENGTH_KNOWN_GOOD);
  if (boot_length < 0) return boot_length;

  if (ctx.boot_file_given && same_geometry && boot_length == ctx.boot_size) {
    // Only the boot code changes: the directory and data stay where they are.
    put_geometry(ctx);
    CommitPlan plan;
    plan.writes.push_back(bytes_write(0, ctx.boot_size, ctx.boot_area, SECTOR_SIZE));
    plan.occupied.push_back({0, ctx.boot_size});
    return commit(ctx, plan);
  }
  if (!content_fits(ctx, boot_length)) return report_error(ERR_GEOMETRY_TOO_SMALL);
  return rebuild(ctx, boot_length);
}

// -iv -fix: a new image built from what the check found, beside the old one,
// which stays as IMAGE.bak. Kept files are copied byte for byte and packed
// in slot order; files that cannot be kept whole go, with what could be
// read of them, into host files in IMAGE.salvage/ under their complex names.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "image/commit.h"
#include "image/file_io.h"
#include "image/image_check.h"
#include "names/complex_name.h"

namespace {

constexpr const char* PATH_SEPARATOR = HOST_IS_WINDOWS ? "\\" : "/";
constexpr const char* BEYOND_END_FILE = "beyond-end.bin";  // no complex name: it has no '_'

DirEntry repaired_entry(const CheckedFile& file) {
  DirEntry entry = file.entry;
  std::copy(file.name.begin(), file.name.begin() + 8, entry.name.begin());
  entry.type = file.name[8];
  return entry;
}

std::string salvage_path(const std::string& folder, const CheckedFile& file) {
  std::array<char, COMPLEX_NAME_SIZE> name{};
  build_file_name(repaired_entry(file), name.data(), COMPLEX_FORM);
  return folder + PATH_SEPARATOR + name.data();
}

bool salvages_anything(const ImageCheck& check) {
  const bool files = std::any_of(check.files.begin(), check.files.end(),
      [](const CheckedFile& file) { return file.salvage && file.present > 0; });
  return files || (check.beyond_end > 0 && !check.beyond_end_fill);
}

// The repaired image: the boot area as it is, the kept entries from slot 0,
// their data behind the directory in slot order (each last sector completed
// with 0xFF), free slots 0xE5 and free sectors 0xFF to the image's end.
void plan_repair(
    Context& ctx, const ImageCheck& check, CommitPlan& plan, std::vector<std::uint8_t>& directory) {
  plan.whole_image = true;
  plan.length = ctx.image_size;
  plan.previous = PreviousImage::backup;
  plan.writes.push_back(image_write(0, ctx.boot_size, 0));
  directory.assign(static_cast<std::size_t>(directory_bytes(ctx)), EMPTY_ENTRY_FILL);
  plan.writes.push_back(bytes_write(
      slot_offset(ctx, 0), static_cast<long>(directory.size()), directory.data(), DIR_ENTRY_SIZE));
  long position = data_area_offset(ctx);
  std::size_t slot = 0;
  for (const CheckedFile& file : check.files) {
    if (file.salvage) continue;
    DirEntry entry = repaired_entry(file);
    set_u16(entry.first_sector, static_cast<int>(position / SECTOR_SIZE));
    std::copy_n(reinterpret_cast<const std::uint8_t*>(&entry), DIR_ENTRY_SIZE,
        directory.begin() + static_cast<long>(DIR_ENTRY_SIZE * slot++));
    if (file.length > 0) plan.writes.push_back(image_write(position, file.length, file.offset));
    if (file.rounded > file.length) {
      plan.writes.push_back(
          fill_write(position + file.length, file.rounded - file.length, FREE_SECTOR_FILL));
    }
    position += file.rounded;
  }
  if (position < ctx.image_size)
    plan.writes.push_back(fill_write(position, ctx.image_size - position, FREE_SECTOR_FILL));
}

// Writes every host file of the salvage; `written` lists them, so that a
// failure can take them back.
int write_salvage(Context& ctx, const ImageCheck& check, const std::string& folder,
    std::vector<std::string>& written) {
  for (const CheckedFile& file : check.files) {
    if (!file.salvage || file.present == 0) continue;
    const std::string path = salvage_path(folder, file);
    int result = read_image_at(ctx, ctx.work_buffer, file.offset, static_cast<int>(file.present));
    if (result == 0) {
      written.push_back(path);
      result = write_host_file(path.c_str(), ctx.work_buffer, static_cast<int>(file.present));
    }
    if (result != 0) return result;
  }
  if (check.beyond_end == 0 || check.beyond_end_fill) return 0;
  written.push_back(folder + PATH_SEPARATOR + BEYOND_END_FILE);
  return write_image_range(ctx, written.back().c_str(), ctx.image_size, check.beyond_end);
}

void print_changes(const Context& ctx, const ImageCheck& check, const std::string& folder) {
  int kept = 0;
  for (const CheckedFile& file : check.files) {
    const std::string found = shown_name(name_key(file.entry));
    if (file.renamed) {
      std::printf(
          "Renamed: slot %d %s -> %s\n", file.slot, found.c_str(), shown_name(file.name).c_str());
    }
    if (!file.salvage) {
      ++kept;
    } else if (file.present > 0) {
      std::printf("Salvaged: slot %d %s: %ld of %d bytes -> %s\n", file.slot, found.c_str(),
          file.present, file.length, salvage_path(folder, file).c_str());
    } else {
      std::printf("Dropped: slot %d %s: none of its bytes are in the image file\n", file.slot,
          found.c_str());
    }
  }
  if (check.beyond_end > 0 && check.beyond_end_fill) {
    std::printf("Cut: %ld bytes of 0xFF beyond the end of the image\n", check.beyond_end);
  } else if (check.beyond_end > 0) {
    std::printf("Saved: %ld bytes beyond the end of the image -> %s%s%s\n", check.beyond_end,
        folder.c_str(), PATH_SEPARATOR, BEYOND_END_FILE);
  }
  if (check.file_length < ctx.image_size) {
    std::printf(
        "Lengthened: the image file from %ld to %d bytes\n", check.file_length, ctx.image_size);
  }
  if (check.unpacked) std::printf("Repacked: %d file(s) in slot order\n", kept);
  if (check.dirty_slots + check.dirty_sectors + check.dirty_tails > 0) {
    std::printf("Fill restored: %d free slot(s), %d free sector(s), %d file tail(s)\n",
        check.dirty_slots, check.dirty_sectors, check.dirty_tails);
  }
  std::printf("Previous image kept as: %s\n", backup_name(ctx.image_path.c_str()).c_str());
}

}  // namespace

int repair_image(Context& ctx, const ImageCheck& check) {
  // Nothing is ever overwritten: refuse before anything is written.
  const std::string backup = backup_name(ctx.image_path.c_str());
  if (path_exists(backup.c_str())) return report_error(ERR_ACCESS_WRITE, backup.c_str());
  const std::string folder = salvage_folder_name(ctx.image_path.c_str());
  const bool salvaging = salvages_anything(check);
  if (salvaging && path_exists(folder.c_str()))
    return report_error(ERR_ACCESS_WRITE, folder.c_str());

  CommitPlan plan;
  std::vector<std::uint8_t> directory;
  plan_repair(ctx, check, plan, directory);
  std::vector<std::string> written;
  int result = 0;
  if (salvaging) {
    if (!make_directory(folder.c_str())) return report_error(ERR_OPEN_WRITE, folder.c_str());
    result = write_salvage(ctx, check, folder, written);
  }
  if (result == 0) result = commit(ctx, plan);
  if (result != 0) {
    // The image is as it was: the salvaged copies of its files go again.
    for (const std::string& path : written) remove_file(path.c_str());
    if (salvaging) remove_directory(folder.c_str());
    return result;
  }
  print_changes(ctx, check, folder);
  return 0;
}

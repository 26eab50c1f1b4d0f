#include "image/directory.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/alloc.h"
#include "cli/errors.h"
#include "image/file_io.h"
#include "names/name81.h"

int check_boot(Context& ctx, int from_image) {
  const bool signature_ok =
      std::equal(BOOT_SIGNATURE.begin(), BOOT_SIGNATURE.end(), ctx.boot_area) &&
      ctx.boot_area[HDR_JUMP_OPCODE] == JUMP_OPCODE;
  if (signature_ok) return 0;
  return report_error(ERR_INVALID_BOOT, from_image ? nullptr : ctx.boot_file.data());
}

namespace {

// A header is trusted only as far as the fixed buffers and the image reach.
bool geometry_plausible(int boot_sectors, int dir_sectors, int last_sector) {
  return boot_sectors >= 1 && boot_sectors <= MAX_BOOT_SECTORS && dir_sectors <= MAX_DIR_SECTORS &&
         boot_sectors + dir_sectors <= last_sector + 1;
}

}  // namespace

int load_directory(Context& ctx) {
  int result = read_image_at(ctx, ctx.boot_area, 0, IMAGE_HEADER_SIZE);
  if (result != 0) return result;
  result = check_boot(ctx, 1);
  if (result != 0) return result;
  const int boot_sectors = ctx.boot_area[HDR_BOOT_SECTORS];
  const int dir_sectors = ctx.boot_area[HDR_DIR_SECTORS];
  const int last_sector = ctx.boot_area[HDR_LAST_SECTOR] | (ctx.boot_area[HDR_LAST_SECTOR + 1] << 8);
  if (!geometry_plausible(boot_sectors, dir_sectors, last_sector)) {
    return report_error(ERR_INVALID_BOOT);
  }
  ctx.boot_sectors = boot_sectors;
  ctx.dir_sectors = dir_sectors;
  ctx.dir_items = dir_sectors * ENTRIES_PER_SECTOR;
  ctx.image_size = (last_sector + 1) * SECTOR_SIZE;
  ctx.boot_size = boot_sectors * SECTOR_SIZE;
  ctx.used_sectors = boot_sectors + dir_sectors;

  result = read_image_at(ctx, ctx.directory_area, static_cast<long>(ctx.boot_size),
                         ctx.dir_items * DIR_ENTRY_SIZE);
  if (result != 0) return result;

  free_entry_list(ctx);
  ctx.used_entries = 0;
  for (int i = 0; i < ctx.dir_items; ++i) {
    DirEntry* entry = entry_at(ctx.directory_area, i);
    if (!entry_in_use(*entry)) continue;
    result = append_node(ctx, entry);
    if (result != 0) return result;
    ctx.entries_last->slot = i;
    const int end = get_u16(entry->first_sector) + round_to_sectors(get_u16(entry->length)) / SECTOR_SIZE;
    ctx.used_sectors = std::max(ctx.used_sectors, end);
    ++ctx.used_entries;
  }
  return 0;
}

int open_and_load(Context& ctx) {
  const int result = open_image(ctx, 0);
  return result != 0 ? result : load_directory(ctx);
}

int append_node(Context& ctx, DirEntry* entry) {
  EntryNode* node = nullptr;
  if (alloc_zeroed(node) != 0) return ERR_OUT_OF_MEMORY;
  node->entry = entry;
  node->slot = -1;
  node->data_offset = get_u16(entry->first_sector) * SECTOR_SIZE;
  node->rounded_length = round_to_sectors(get_u16(entry->length));
  node->prev = ctx.entries_last;
  if (ctx.entries_last != nullptr) {
    ctx.entries_last->next = node;
  } else {
    ctx.entries_first = node;
  }
  ctx.entries_last = node;
  return 0;
}

int load_node_data(Context& ctx, EntryNode* node, int from_work_buffer) {
  release(node->data);
  if (node->rounded_length == 0) return 0;
  if (alloc_zeroed(node->data, static_cast<std::size_t>(node->rounded_length)) != 0) {
    return ERR_OUT_OF_MEMORY;
  }
  if (from_work_buffer) {
    std::memcpy(node->data, ctx.work_buffer, static_cast<std::size_t>(node->rounded_length));
    return 0;
  }
  return read_image_at(ctx, node->data, node->data_offset, node->rounded_length);
}

long packed_end(const Context& ctx, long first_data_offset) {
  long end = first_data_offset;
  for (const EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    if (!node->deleted) end += node->rounded_length;
  }
  return end;
}

namespace {

// Reads the data of a node that lies in the old image into the work buffer;
// `position` follows the stream, so packed files are read without seeking.
int read_from_source(Context& ctx, const DataSource& source, long& position, long offset, int length) {
  if (position != offset && std::fseek(source.file, offset, SEEK_SET) != 0) {
    return report_error(ERR_ACCESS_READ, source.name);
  }
  position = -1;
  if (std::fread(ctx.work_buffer, 1, static_cast<std::size_t>(length), source.file) !=
      static_cast<std::size_t>(length)) {
    return report_error(ERR_READ, source.name);
  }
  position = offset + length;
  return 0;
}

// Gives every kept node its packed place: loads (or, staying in place,
// range-checks) its data first, then sets first_sector and data_offset.
// Records the old offsets for a DataSource. Nothing is written here.
int place_nodes(Context& ctx, int load_all_first, long data_start, std::vector<long>& old_offsets) {
  long target = data_start;
  int placed = 0;
  for (EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    if (node->deleted) continue;
    if (placed == ctx.dir_items) return report_error(ERR_DIRECTORY_FULL);
    if (target / SECTOR_SIZE > MAX_SECTOR_INDEX) return report_error(ERR_DISK_FULL);
    if (load_all_first && !node->new_data) {
      // A file already at its place stays as it is, but must be readable.
      const int result = target != node->data_offset
                             ? load_node_data(ctx, node, 0)
                             : check_image_range(ctx, node->data_offset, node->rounded_length);
      if (result != 0) return result;
    }
    old_offsets.push_back(node->data_offset);
    set_u16(node->entry->first_sector, static_cast<int>(target / SECTOR_SIZE));
    node->data_offset = static_cast<int>(target);
    target += node->rounded_length;
    ++placed;
  }
  return 0;
}

}  // namespace

int write_back(Context& ctx, int load_all_first, const DataSource* source) {
  const long entry_start = static_cast<long>(ctx.boot_sectors) * SECTOR_SIZE;
  const long data_start = entry_start + static_cast<long>(ctx.dir_sectors) * SECTOR_SIZE;
  // Overlapping entries made elsewhere can pack larger than the space they
  // seemed to use; refuse before the first write instead of wrapping a
  // 16-bit first sector or writing past the image.
  const long data_end = packed_end(ctx, data_start);
  if (data_end > ctx.image_size) return report_error(ERR_DISK_FULL);
  std::vector<long> old_offsets;
  int result = place_nodes(ctx, load_all_first, data_start, old_offsets);
  if (result != 0) return result;

  // The packed directory goes out in one piece, the data streams behind it.
  std::uint8_t* packed = ctx.work_buffer;
  std::memset(packed, EMPTY_ENTRY_FILL, static_cast<std::size_t>(ctx.dir_items) * DIR_ENTRY_SIZE);
  int written = 0;
  for (const EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    if (!node->deleted) std::memcpy(packed + DIR_ENTRY_SIZE * written++, node->entry, DIR_ENTRY_SIZE);
  }
  result = write_image_at(ctx, packed, entry_start, ctx.dir_items * DIR_ENTRY_SIZE);
  std::size_t index = 0;
  long source_position = -1;
  for (const EntryNode* node = ctx.entries_first; node != nullptr && result == 0; node = node->next) {
    if (node->deleted) continue;
    const long old_offset = old_offsets[index++];
    if (node->data != nullptr) {
      result = write_image_at(ctx, node->data, node->data_offset, node->rounded_length);
    } else if (source != nullptr && node->rounded_length > 0) {
      result = read_from_source(ctx, *source, source_position, old_offset, node->rounded_length);
      if (result == 0) result = write_image_at(ctx, ctx.work_buffer, node->data_offset, node->rounded_length);
    }
  }
  if (result != 0) return result;
  std::memset(ctx.work_buffer, FREE_SECTOR_FILL, SECTOR_SIZE);
  for (long d = data_end; d < ctx.image_size; d += SECTOR_SIZE) {
    result = write_image_at(ctx, ctx.work_buffer, d, SECTOR_SIZE);
    if (result != 0) return result;
  }
  return flush_image(ctx);
}

void free_entry_list(Context& ctx) {
  EntryNode* node = ctx.entries_first;
  while (node != nullptr) {
    EntryNode* next = node->next;
    release(node->data);
    release(node);
    node = next;
  }
  ctx.entries_first = nullptr;
  ctx.entries_last = nullptr;
  ctx.entries_cursor = nullptr;
}

EntryNode* next_matching_node(Context& ctx, int mask_mode) {
  if (ctx.entries_cursor == cursor_exhausted(ctx)) return nullptr;
  EntryNode* start = ctx.entries_cursor != nullptr ? ctx.entries_cursor : ctx.entries_first;
  for (EntryNode* node = start; node != nullptr; node = node->next) {
    if (entry_matches(ctx, *node->entry, mask_mode)) {
      ctx.entries_cursor = node->next != nullptr ? node->next : cursor_exhausted(ctx);
      return node;
    }
  }
  return nullptr;
}

DirEntry* find_free_slot(Context& ctx) {
  for (int i = 0; i < ctx.dir_items; ++i) {
    DirEntry* entry = entry_at(ctx.directory_area, i);
    if (!entry_in_use(*entry)) return entry;
  }
  return nullptr;
}

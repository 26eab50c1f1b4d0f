#include "image/directory.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/alloc.h"
#include "cli/errors.h"
#include "image/boot_area.h"
#include "image/file_io.h"
#include "image/recovery.h"
#include "names/name81.h"

bool geometry_plausible(int boot_sectors, int dir_sectors, int last_sector) {
  return boot_sectors >= 1 && boot_sectors <= MAX_BOOT_SECTORS && dir_sectors <= MAX_DIR_SECTORS &&
         boot_sectors + dir_sectors <= last_sector + 1;
}

int load_directory(Context& ctx) {
  int result = read_image_at(ctx, ctx.boot_area, 0, IMAGE_HEADER_SIZE);
  if (result != 0) return result;
  result = check_boot(ctx, BOOT_FROM_IMAGE);
  if (result != 0) return result;
  const int boot_sectors = ctx.boot_area[HDR_BOOT_SECTORS];
  const int dir_sectors = ctx.boot_area[HDR_DIR_SECTORS];
  const int last_sector = get_u16(ctx.boot_area + HDR_LAST_SECTOR);
  if (!geometry_plausible(boot_sectors, dir_sectors, last_sector)) {
    return report_error(ERR_INVALID_BOOT);
  }
  set_geometry(
      ctx, boot_sectors, dir_sectors * ENTRIES_PER_SECTOR, (last_sector + 1) * SECTOR_SIZE);
  ctx.used_sectors = boot_sectors + dir_sectors;

  result = read_image_at(ctx, ctx.directory_area, slot_offset(ctx, 0), directory_bytes(ctx));
  if (result != 0) return result;

  free_entry_list(ctx);
  ctx.used_entries = 0;
  for (int i = 0; i < ctx.dir_items; ++i) {
    DirEntry* entry = entry_at(ctx.directory_area, i);
    if (!entry_in_use(*entry)) continue;
    result = append_node(ctx, entry);
    if (result != 0) return result;
    ctx.entries_last->slot = i;
    const int end =
        get_u16(entry->first_sector) + round_to_sectors(get_u16(entry->length)) / SECTOR_SIZE;
    ctx.used_sectors = std::max(ctx.used_sectors, end);
    ++ctx.used_entries;
  }
  return 0;
}

int open_and_load(Context& ctx) {
  const int result = open_image(ctx, OPEN_EXISTING);
  return result != 0 ? result : load_directory(ctx);
}

int append_node(Context& ctx, DirEntry* entry) {
  EntryNode* node = nullptr;
  if (alloc_zeroed(node) != 0) return ERR_OUT_OF_MEMORY;
  node->entry = entry;
  node->slot = -1;
  node->data_offset = static_cast<int>(sector_offset(get_u16(entry->first_sector)));
  node->rounded_length = round_to_sectors(get_u16(entry->length));
  node->image_offset = node->data_offset;
  node->stored_length = node->rounded_length;
  node->prev = ctx.entries_last;
  if (ctx.entries_last != nullptr) {
    ctx.entries_last->next = node;
  } else {
    ctx.entries_first = node;
  }
  ctx.entries_last = node;
  return 0;
}

int load_node_data(Context& ctx, EntryNode* node, DataSourceKind source) {
  release(node->data);
  if (node->rounded_length == 0) return 0;
  if (alloc_bytes(node->data, static_cast<std::size_t>(node->rounded_length)) != 0) {
    return ERR_OUT_OF_MEMORY;
  }
  if (source == DATA_FROM_WORK_BUFFER) {
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

int place_entries(Context& ctx, MovedData moved) {
  const long data_start = data_area_offset(ctx);
  // Overlapping entries made elsewhere can pack larger than the space they
  // seemed to use; refuse before the first write instead of wrapping a
  // 16-bit first sector or writing past the image.
  if (packed_end(ctx, data_start) > ctx.image_size) return report_error(ERR_DISK_FULL);
  long target = data_start;
  int placed = 0;
  for (EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    if (node->deleted) continue;
    if (placed == ctx.dir_items) return report_error(ERR_DIRECTORY_FULL);
    // A file of length 0 takes no sector: its data is never read or
    // written, and its first sector is only the arithmetic's.
    if (node->rounded_length > 0) {
      if (target / SECTOR_SIZE > MAX_SECTOR_INDEX) return report_error(ERR_DISK_FULL);
      if (!node->new_data && node->data == nullptr) {
        node->data_offset = node->image_offset;
        // A file that moves down is copied within the image by the commit;
        // one that moves up would overwrite its own data on the way.
        const bool load = target > node->image_offset;
        const int result = moved == LOAD_MOVED_UP && load
                               ? load_node_data(ctx, node, DATA_FROM_IMAGE)
                               : check_image_range(ctx, node->image_offset, node->rounded_length);
        if (result != 0) return result;
      }
    }
    set_u16(node->entry->first_sector, static_cast<int>((target / SECTOR_SIZE) & MAX_SECTOR_INDEX));
    node->data_offset = static_cast<int>(target);
    target += node->rounded_length;
    ++placed;
  }
  return 0;
}

void plan_packed_layout(
    Context& ctx, CommitPlan& plan, std::vector<std::uint8_t>& directory, LayoutData data) {
  directory.assign(static_cast<std::size_t>(directory_bytes(ctx)), EMPTY_ENTRY_FILL);
  std::size_t written = 0;
  for (const EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    if (node->deleted) continue;
    std::memcpy(directory.data() + DIR_ENTRY_SIZE * written++, node->entry, DIR_ENTRY_SIZE);
  }
  plan.writes.push_back(bytes_write(
      slot_offset(ctx, 0), static_cast<long>(directory.size()), directory.data(), DIR_ENTRY_SIZE));
  for (const EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    if (node->deleted || node->rounded_length == 0) continue;
    if (node->data != nullptr) {
      plan.writes.push_back(
          bytes_write(node->data_offset, node->rounded_length, node->data, SECTOR_SIZE));
    } else if (data == ALL_DATA || node->data_offset != node->image_offset) {
      plan.writes.push_back(
          image_write(node->data_offset, node->rounded_length, node->image_offset));
    }
  }
  const long data_end = packed_end(ctx, data_area_offset(ctx));
  if (data_end < ctx.image_size)
    plan.writes.push_back(fill_write(data_end, ctx.image_size - data_end, FREE_SECTOR_FILL));
}

int write_back(Context& ctx) {
  int result = place_entries(ctx, LOAD_MOVED_UP);
  if (result != 0) return result;
  CommitPlan plan;
  std::vector<std::uint8_t> directory;
  plan_packed_layout(ctx, plan, directory, CHANGED_DATA);
  // What the image holds now: overwriting it makes a change that is synced.
  for (const EntryNode* node = ctx.entries_first; node != nullptr; node = node->next) {
    if (node->slot < 0) continue;
    plan.occupied.push_back({slot_offset(ctx, node->slot), DIR_ENTRY_SIZE});
    plan.occupied.push_back({node->image_offset, node->stored_length});
  }
  return commit(ctx, plan);
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

EntryNode* next_matching_node(Context& ctx, MatchMode mode) {
  if (ctx.entries_cursor == cursor_exhausted(ctx)) return nullptr;
  EntryNode* start = ctx.entries_cursor != nullptr ? ctx.entries_cursor : ctx.entries_first;
  for (EntryNode* node = start; node != nullptr; node = node->next) {
    if (entry_matches(ctx, *node->entry, mode)) {
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

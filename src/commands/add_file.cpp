#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/data_files.h"
#include "cli/errors.h"
#include "commands/commands.h"
#include "image/commit.h"
#include "image/directory.h"
#include "image/file_io.h"
#include "names/complex_name.h"
#include "names/name81.h"

namespace {

constexpr int UNPACK_ROUTINE_MAX = 256;
constexpr int LIST_PIECE = 254;  // longer list lines are taken in pieces
constexpr char UTF8_BOM[] = {'\xEF', '\xBB', '\xBF'};

void fill_new_entry(const Context& ctx, DirEntry& entry, int total) {
  store_name(entry, ctx.name);
  store_long_name(entry, ctx);
  set_u16(entry.first_sector, 0);
  set_u16(entry.start_address, ctx.start_address & 0xFFFF);
  set_u16(entry.length, total);
  entry.attributes =
      static_cast<std::uint8_t>((ctx.opt_al ? ATTR_LIST : 0) | (ctx.opt_ar ? ATTR_ALLRAM : 0));
}

void print_add_report(const Context& ctx, const DirEntry& entry, int total, int rounded) {
  if (!ctx.cmd_fa) {
    std::printf("New size: %d bytes (%d sectors)\n", total, rounded / SECTOR_SIZE);
    return;
  }
  if (ctx.opt_psc) std::printf("Unpack routine inserted before file\n");
  if (ctx.long_name[0] != '\0') std::printf("Long name: %s\n", ctx.long_name.data());
  std::printf("Size: %d bytes (%d sectors)\n", total, rounded / SECTOR_SIZE);
  std::printf("Start: %d\n", get_u16(entry.start_address));
  // "None" is ended by the run's final newline, the other words by their own.
  std::printf(
      "Attributes: %s%s", attribute_words(entry.attributes), entry.attributes == 0 ? "" : "\n");
}

// Reads the optional unpack routine and the host file into the work buffer
// and pads the last sector; the stored length, or an error.
int read_file_data(Context& ctx) {
  int routine = 0;
  if (ctx.opt_psc) {
    PathField routine_path{};
    const int found = find_data_file(ctx, UNPACK_ROUTINE_FILE, routine_path);
    if (found != 0) return found;
    routine = read_host_file(routine_path.data(), ctx.work_buffer, UNPACK_ROUTINE_MAX);
    if (routine < 0) return routine;
  }
  const int length =
      read_host_file(ctx.source_path.data(), ctx.work_buffer + routine, MAX_FILE_LENGTH - routine);
  if (length < 0) return length;
  std::printf("Source file: %s\n", ctx.source_path.data());
  const int total = routine + length;
  std::memset(ctx.work_buffer + total, FREE_SECTOR_FILL,
      static_cast<std::size_t>(round_to_sectors(total) - total));
  return total;
}

}  // namespace

int add_file(Context& ctx) {
  if (slot_given(ctx.new_name)) ctx.name = ctx.new_name;
  int result = open_and_load(ctx);
  if (result != 0) return result;
  std::printf(ctx.cmd_fr ? "Replacing file: %s\n" : "Adding file: %s\n", ctx.name.display.data());

  ctx.entries_cursor = nullptr;
  EntryNode* node = next_matching_node(ctx, MATCH_EXACT);
  if (node != nullptr && !ctx.opt_ow && !ctx.cmd_fr)
    return report_error(ERR_FILE_EXISTS, ctx.name.display.data());
  if (node == nullptr && ctx.cmd_fr)
    return report_error(ERR_FILE_NOT_FOUND, ctx.name.display.data());
  if (node != nullptr && ctx.opt_ow && !ctx.cmd_fr)
    std::printf("File already exist, will be overwritten.\n");

  const int total = read_file_data(ctx);
  if (total < 0) return total;
  const int rounded = round_to_sectors(total);
  const int old_rounded = node != nullptr ? round_to_sectors(get_u16(node->entry->length)) : 0;
  const int growth = rounded - old_rounded;
  if (growth > 0 && static_cast<long>(ctx.used_sectors) * SECTOR_SIZE + growth > ctx.image_size) {
    return report_error(ERR_DISK_FULL);
  }

  if (node == nullptr) {
    DirEntry* entry = find_free_slot(ctx);
    if (entry == nullptr) return report_error(ERR_DIRECTORY_FULL);
    fill_new_entry(ctx, *entry, total);
    result = append_node(ctx, entry);
    if (result != 0) return result;
    node = ctx.entries_last;
  } else if (ctx.cmd_fa) {
    fill_new_entry(ctx, *node->entry, total);
  } else {
    set_u16(node->entry->first_sector, 0);
    set_u16(node->entry->length, total);
  }
  node->data_offset = 0;
  node->rounded_length = rounded;
  node->new_data = 1;
  result = load_node_data(ctx, node, DATA_FROM_WORK_BUFFER);
  // Every check of the commit runs before the report says the file is in.
  if (result == 0) result = place_entries(ctx, LOAD_MOVED_UP);
  if (result != 0) return result;
  print_add_report(ctx, *node->entry, total, rounded);
  return write_back(ctx);
}

int add_complex_file(Context& ctx) {
  std::printf("Adding file with complex name.\n");
  DirEntry parsed{};
  int result = parse_complex_name(parsed, ctx.source_path.data());
  if (result != 0) return result;
  const DisplayName name_text = display_name(parsed.name.data(), parsed.type);
  result = set_main_name(ctx, name_text.data(), "-fc", NO_WILDCARDS);
  if (result != 0) return result;
  ctx.new_name = NameSlot{};
  std::memcpy(ctx.long_name.data(), parsed.long_name.data(), parsed.long_name.size());
  ctx.long_name[LONG_NAME_LENGTH] = '\0';
  ctx.start_address = get_u16(parsed.start_address);
  ctx.opt_al = (parsed.attributes & ATTR_LIST) ? 1 : 0;
  ctx.opt_ar = (parsed.attributes & ATTR_ALLRAM) ? 1 : 0;
  ctx.cmd_fa = 1;
  return add_file(ctx);
}

namespace {

int add_listed_files(Context& ctx) {
  // Binary, so that every host reads the same lines: a line ends at LF (the
  // CR of a CR LF goes with the trimmed white space), and a 0x1A byte, which
  // Windows text mode takes for the end of the file, is part of its line.
  FileGuard list(open_host_stream(ctx.source_path.data(), "rb"));
  if (!list || is_directory(list.get())) return report_error(ERR_OPEN_READ, ctx.source_path.data());
  std::array<char, PATH_FIELD_SIZE> line{};
  for (bool first = true;; first = false) {
    std::printf("\n");
    line.fill('\0');
    if (std::fgets(line.data(), LIST_PIECE + 1, list.get()) == nullptr) return 0;
    // Notepad starts its UTF-8 files with a byte-order mark: no part of the first name.
    if (first && std::memcmp(line.data(), UTF8_BOM, sizeof(UTF8_BOM)) == 0) {
      std::memmove(line.data(), line.data() + sizeof(UTF8_BOM), line.size() - sizeof(UTF8_BOM));
    }
    trim(line.data());
    if (line[0] == '\0') continue;
    std::memcpy(ctx.source_path.data(), line.data(), line.size());
    const int result = add_complex_file(ctx);
    if (result != 0) return result;
  }
}

}  // namespace

int add_file_list(Context& ctx) {
  std::printf("Adding files from list stored in file: %s\n", ctx.source_path.data());
  // A run cut short by a kill or a failed write takes back every line; a
  // line refused for what it says keeps the lines before it.
  hold_changes_together(ctx);
  const int result = add_listed_files(ctx);
  const int ended = end_changes(ctx);
  return result != 0 ? result : ended;
}

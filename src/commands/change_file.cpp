#include <cstdio>

#include "cli/errors.h"
#include "commands/commands.h"
#include "image/commit.h"
#include "image/directory.h"
#include "image/file_io.h"
#include "names/name81.h"

namespace {

void print_attributes(int attributes) {
  std::printf("New attributes: ");
  if (attributes == 0) {
    std::printf("None");
  } else {
    const bool list = (attributes & ATTR_LIST) != 0;
    const bool all_ram = (attributes & ATTR_ALLRAM) != 0;
    std::printf("%s%s%s", list ? "List" : "", list && all_ram ? ", " : "", all_ram ? "AllRAM" : "");
  }
  std::printf("\n");
}

}  // namespace

int change_file(Context& ctx) {
  int result = open_and_load(ctx);
  if (result != 0) return result;
  std::printf("Changing parameters for file: %s\n", ctx.name.display.data());

  ctx.entries_cursor = nullptr;
  EntryNode* node = next_matching_node(ctx, 0);
  if (node == nullptr) return report_error(ERR_FILE_NOT_FOUND, ctx.name.display.data());
  DirEntry& entry = *node->entry;

  if (slot_given(ctx.new_name)) {
    ctx.name = ctx.new_name;
    std::printf("New name: %s\n", ctx.name.display.data());
    ctx.entries_cursor = nullptr;
    // The file itself matches too: renaming a file to its own name is refused.
    if (next_matching_node(ctx, 0) != nullptr) return report_error(ERR_FILE_EXISTS, ctx.name.display.data());
    store_name(entry, ctx.name);
  }
  if (ctx.long_name[0] != '\0') {
    std::printf("New long name: %s\n", ctx.long_name.data());
    for (std::size_t i = 0; i < entry.long_name.size(); ++i) {
      entry.long_name[i] = static_cast<std::uint8_t>(ctx.long_name[i]);
    }
  }
  if (ctx.start_address != -1) {
    std::printf("New start: %d (%04Xh)\n", ctx.start_address, ctx.start_address);
    set_u16(entry.start_address, ctx.start_address & 0xFFFF);
  }
  if (ctx.opt_al) entry.attributes ^= ATTR_LIST;
  if (ctx.opt_ar) entry.attributes ^= ATTR_ALLRAM;
  if (ctx.opt_al || ctx.opt_ar) print_attributes(entry.attributes);

  const long offset = static_cast<long>(ctx.boot_sectors) * SECTOR_SIZE + static_cast<long>(node->slot) * DIR_ENTRY_SIZE;
  CommitPlan plan;
  plan.writes.push_back(bytes_write(offset, DIR_ENTRY_SIZE, reinterpret_cast<const std::uint8_t*>(&entry), DIR_ENTRY_SIZE));
  plan.occupied.push_back({offset, DIR_ENTRY_SIZE});
  return commit(ctx, plan);
}

#include <cstdio>

#include "cli/errors.h"
#include "commands/commands.h"
#include "image/commit.h"
#include "image/directory.h"
#include "image/file_io.h"
#include "names/name81.h"

int change_file(Context& ctx) {
  int result = open_and_load(ctx);
  if (result != 0) return result;
  std::printf("Changing parameters for file: %s\n", ctx.name.display.data());

  ctx.entries_cursor = nullptr;
  EntryNode* node = next_matching_node(ctx, MATCH_EXACT);
  if (node == nullptr) return report_error(ERR_FILE_NOT_FOUND, ctx.name.display.data());
  DirEntry& entry = *node->entry;

  if (slot_given(ctx.new_name)) {
    ctx.name = ctx.new_name;
    std::printf("New name: %s\n", ctx.name.display.data());
    ctx.entries_cursor = nullptr;
    // The file itself matches too: renaming a file to its own name is refused.
    if (next_matching_node(ctx, MATCH_EXACT) != nullptr)
      return report_error(ERR_FILE_EXISTS, ctx.name.display.data());
    store_name(entry, ctx.name);
  }
  if (ctx.long_name[0] != '\0') {
    std::printf("New long name: %s\n", ctx.long_name.data());
    store_long_name(entry, ctx);
  }
  if (ctx.start_address != -1) {
    std::printf("New start: %d (%04Xh)\n", ctx.start_address, ctx.start_address);
    set_u16(entry.start_address, ctx.start_address & 0xFFFF);
  }
  if (ctx.opt_al) entry.attributes ^= ATTR_LIST;
  if (ctx.opt_ar) entry.attributes ^= ATTR_ALLRAM;
  if (ctx.opt_al || ctx.opt_ar)
    std::printf("New attributes: %s\n", attribute_words(entry.attributes));

  // The one entry is rewritten in place; the rest of the image stays as it is.
  const long offset = slot_offset(ctx, node->slot);
  CommitPlan plan;
  plan.writes.push_back(bytes_write(
      offset, DIR_ENTRY_SIZE, reinterpret_cast<const std::uint8_t*>(&entry), DIR_ENTRY_SIZE));
  plan.occupied.push_back({offset, DIR_ENTRY_SIZE});
  return commit(ctx, plan);
}

#include <cstdio>

#include "cli/errors.h"
#include "commands/commands.h"
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

  result = write_image_at(ctx, &entry, slot_offset(ctx, node->slot), DIR_ENTRY_SIZE);
  return result != 0 ? result : flush_image(ctx);
}

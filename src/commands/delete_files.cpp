#include <cstdio>

#include "commands/commands.h"
#include "image/directory.h"
#include "names/complex_name.h"

int delete_files(Context& ctx) {
  int result = open_and_load(ctx);
  if (result != 0) return result;
  std::printf("Delete files by mask: %s\n\n", ctx.name.display.data());

  int count = 0;
  ctx.entries_cursor = nullptr;
  for (EntryNode* node = next_matching_node(ctx, MATCH_MASK); node != nullptr;
       node = next_matching_node(ctx, MATCH_MASK)) {
    DisplayName display{};
    build_file_name(*node->entry, display.data(), DISPLAY_FORM);
    std::printf("Deleting file: %s\n", display.data());
    node->deleted = 1;
    ++count;
  }
  if (count == 0) {
    std::printf("No files found to delete by given mask!\n");
    return 0;
  }
  result = write_back(ctx);
  if (result != 0) return result;
  std::printf("\n%d file(s) deleted.\n", count);
  return 0;
}

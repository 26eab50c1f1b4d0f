#include <cstdio>

#include "cli/errors.h"
#include "image/directory.h"
#include "loader/loader.h"
#include "loader/loader_layout.h"
#include "names/complex_name.h"

namespace {

bool is_standard_loader(const DirEntry& entry, const std::uint8_t* data) {
  return data[LDR_JUMP_OPCODE] == LOADER_JUMP_OPCODE &&
         data[LDR_JUMP_HIGH] == (get_u16(entry.start_address) >> 8) &&
         entry.attributes == ATTR_LIST;
}

}  // namespace

int show_loader_info(Context& ctx) {
  int result = open_and_load(ctx);
  if (result != 0) return result;
  std::printf("Loader file info: %s\n", ctx.name.display.data());
  ctx.entries_cursor = nullptr;
  EntryNode* node = next_matching_node(ctx, MATCH_EXACT);
  if (node == nullptr) return report_error(ERR_FILE_NOT_FOUND, ctx.name.display.data());
  const DirEntry& entry = *node->entry;
  const int length = get_u16(entry.length);
  if (length == 0) return report_error(ERR_INVALID_LOADER, ctx.name.display.data());
  result = load_node_data(ctx, node, DATA_FROM_IMAGE);
  if (result != 0) return result;
  const std::uint8_t* data = node->data;
  if (!is_standard_loader(entry, data))
    return report_error(ERR_INVALID_LOADER, ctx.name.display.data());

  const int load_address = get_u16(entry.start_address);
  std::printf("Directory index: %d\n", node->slot);
  std::printf("Loader file size: %d bytes\n", length);
  std::printf("Loader load address: %d (%04Xh)\n", load_address, load_address);
  std::printf("Picture file: %s\n", display_name(data + LDR_PIC_NAME, data[LDR_PIC_TYPE]).data());
  std::printf("Code file: %s\n", display_name(data + LDR_CODE_NAME, data[LDR_CODE_TYPE]).data());
  const int code_start = get_u16(data + LDR_CODE_START);
  if (code_start != LOADER_NO_CUSTOM_START)
    std::printf("Code custom start: %d (%04Xh)\n", code_start, code_start);
  const int flags = data[LDR_FLAGS];
  print_monitor(flags, display_name(data + LDR_MON_NAME, data[LDR_MON_TYPE]).data());
  if (flags & LOADER_CLS_SUPPRESSED) std::printf("CLS suppressed\n");
  return 0;
}

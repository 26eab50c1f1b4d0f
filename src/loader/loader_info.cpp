#include <array>
#include <cstdio>
#include <cstring>

#include "cli/errors.h"
#include "image/directory.h"
#include "loader/loader.h"
#include "loader/loader_layout.h"
#include "names/complex_name.h"

namespace {

// "NAME.T" from 8 name bytes at `name` and the type byte at `type`.
void print_name(const char* label, const std::uint8_t* name, std::uint8_t type) {
  std::array<char, 16> text{};
  std::memcpy(text.data(), name, 8);
  std::printf("%s%s.%c", label, trim(text.data()), type);
}

bool is_standard_loader(const DirEntry& entry, const std::uint8_t* data) {
  return data[LDR_JUMP_OPCODE] == LOADER_JUMP_OPCODE &&
         data[LDR_JUMP_HIGH] == (get_u16(entry.start_address) >> 8) && entry.attributes == ATTR_LIST;
}

}  // namespace

int show_loader_info(Context& ctx) {
  int result = open_and_load(ctx);
  if (result != 0) return result;
  std::printf("Loader file info: %s\n", ctx.name.display.data());
  ctx.entries_cursor = nullptr;
  EntryNode* node = next_matching_node(ctx, 0);
  if (node == nullptr) return report_error(ERR_FILE_NOT_FOUND, ctx.name.display.data());
  const DirEntry& entry = *node->entry;
  const int length = get_u16(entry.length);
  if (length == 0) return report_error(ERR_INVALID_LOADER, ctx.name.display.data());
  result = load_node_data(ctx, node, 0);
  if (result != 0) return result;
  const std::uint8_t* data = node->data;
  if (!is_standard_loader(entry, data)) return report_error(ERR_INVALID_LOADER, ctx.name.display.data());

  const int load_address = get_u16(entry.start_address);
  std::printf("Directory index: %d\n", node->slot);
  std::printf("Loader file size: %d bytes\n", length);
  std::printf("Loader load address: %d (%04Xh)\n", load_address, load_address);
  print_name("Picture file: ", data + LDR_PIC_NAME, data[LDR_PIC_TYPE]);
  std::printf("\n");
  print_name("Code file: ", data + LDR_CODE_NAME, data[LDR_CODE_TYPE]);
  std::printf("\n");
  const int code_start = data[LDR_CODE_START] | (data[LDR_CODE_START + 1] << 8);
  if (code_start != LOADER_NO_CUSTOM_START) std::printf("Code custom start: %d (%04Xh)\n", code_start, code_start);
  const int flags = data[LDR_FLAGS];
  const int selection = flags & LOADER_MONITOR_MASK;
  if (selection != 0) {
    if (selection == LOADER_MONITOR_FILE) {
      print_name("Load Monitor: ", data + LDR_MON_NAME, data[LDR_MON_TYPE]);
    } else {
      std::printf("Load Monitor: %s", (selection & 1) ? "MONIT1.?" : "MONIT2.?");
      if (flags & LOADER_NO_INIT) std::printf(" (No Init)");
    }
    std::printf("\n");
  }
  if (flags & LOADER_CLS_SUPPRESSED) std::printf("CLS suppressed\n");
  return 0;
}

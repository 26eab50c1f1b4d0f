#include <array>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/data_files.h"
#include "cli/errors.h"
#include "commands/commands.h"
#include "image/file_io.h"
#include "image/platform.h"
#include "loader/loader.h"
#include "loader/loader_layout.h"
#include "names/name81.h"

namespace {

constexpr const char* TEMPORARY_PREFIX = "vemldr";
constexpr const char* TEMPORARY_PATTERN = "vemldrXXXXXX";  // as shown when none can be made

void put_name(std::uint8_t* type_byte, const NameSlot& slot) {
  type_byte[0] = static_cast<std::uint8_t>(slot.padded[8]);
  std::memcpy(type_byte + 1, slot.padded.data(), 8);
}

void patch_template(Context& ctx) {
  std::uint8_t* loader = ctx.work_buffer;
  put_name(loader + LDR_PIC_TYPE, ctx.picture_name);
  put_name(loader + LDR_CODE_TYPE, ctx.new_name);
  if (ctx.start_address >= 0) put_u16(loader + LDR_CODE_START, ctx.start_address);
  if (ctx.opt_scs) ctx.monitor |= LOADER_CLS_SUPPRESSED;
  loader[LDR_FLAGS] = static_cast<std::uint8_t>(ctx.monitor & 0xFF);
  if (slot_given(ctx.monitor_name)) put_name(loader + LDR_MON_TYPE, ctx.monitor_name);
}

// Writes the Loader into a fresh temporary file beside the template when
// that directory is writable, else in the system's temporary directory, so
// an installed tool works for every user.
bool write_temporary(
    const PathField& template_path, const Context& ctx, int length, PathField& path) {
  const int separator = host_separator(template_path.data());
  const std::string beside(template_path.data(), static_cast<std::size_t>(separator + 1));
  for (const std::string& directory : {beside, temporary_directory()}) {
    std::string made;
    if (!write_temporary_file(directory, TEMPORARY_PREFIX, ctx.work_buffer, length, made)) continue;
    if (copy_path(path, made.c_str())) return true;
    remove_file(made.c_str());
  }
  return false;
}

}  // namespace

int make_loader(Context& ctx) {
  std::printf("Creating and adding Loader file into image: %s\n", ctx.name.display.data());
  PathField template_path{};
  const int found = find_data_file(ctx, LOADER_TEMPLATE_FILE, template_path);
  if (found != 0) return found;
  const int length = read_host_file(template_path.data(), ctx.work_buffer, LOADER_MAX_SIZE);
  if (length < 0) return length;
  // A shorter template would silently lose the names patched into it.
  if (length < LOADER_MIN_SIZE) return report_error(ERR_INVALID_LOADER, template_path.data());

  std::printf("Picture file: %s\n", ctx.picture_name.display.data());
  std::printf("Code file: %s\n", ctx.new_name.display.data());
  if (ctx.start_address >= 0)
    std::printf("Custom start: %d (%04Xh)\n", ctx.start_address, ctx.start_address);
  print_monitor(ctx.monitor, ctx.monitor_name.display.data());
  if (ctx.opt_scs) std::printf("CLS suppressed\n");
  std::printf("\n");
  patch_template(ctx);

  PathField temporary{};
  if (!write_temporary(template_path, ctx, length, temporary)) {
    const int separator = host_separator(template_path.data());
    const std::string wanted =
        std::string(template_path.data(), static_cast<std::size_t>(separator + 1)) +
        TEMPORARY_PATTERN;
    return report_error(ERR_OPEN_WRITE, wanted.c_str());
  }
  ctx.source_path = temporary;
  ctx.new_name = NameSlot{};
  ctx.start_address = LOADER_LOAD_ADDRESS;
  ctx.opt_al = 1;
  ctx.cmd_fa = 1;
  const int result = add_file(ctx);
  remove_file(temporary.data());
  return result;
}

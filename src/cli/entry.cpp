#include "cli/entry.h"

#include <cstdio>

#include "cli/alloc.h"
#include "cli/errors.h"
#include "cli/options.h"
#include "commands/commands.h"
#include "image/directory.h"
#include "image/file_io.h"
#include "image/image_commands.h"
#include "loader/loader.h"

namespace {

int run_command(int argc, char** argv, Context*& ctx) {
  if (argc <= 2) return SHOW_USAGE;
  int result = parse_options(argc, argv, ctx);
  if (result != 0) return result;
  result = alloc_zeroed(ctx->work_buffer, WORK_BUFFER_SIZE);
  if (result == 0) result = alloc_zeroed(ctx->boot_area, BOOT_AREA_SIZE);
  if (result == 0) result = alloc_zeroed(ctx->directory_area, DIRECTORY_AREA_SIZE);
  if (result != 0) return result;
  return run_selected_command(*ctx);
}

}  // namespace

int run_vemtool(int argc, char** argv) {
  print_banner();
  Context* ctx = nullptr;
  int result = run_command(argc, argv, ctx);
  if (result == SHOW_USAGE) {
    print_usage();
    result = 0;
  } else if (result == 0) {
    std::fputs("\n", stdout);
  }
  if (ctx != nullptr) {
    close_image(*ctx);
    free_entry_list(*ctx);
    release(ctx->directory_area);
    release(ctx->boot_area);
    release(ctx->work_buffer);
    release(ctx);
  }
  // A full disk on standard output must not pass for success. A closed pipe
  // ends the run at once by SIGPIPE, as is usual for a command whose output
  // is cut short (vemtool img -c | head); commits hold that signal back.
  if (std::fflush(stdout) != 0 && result == 0) result = report_error(ERR_WRITE, "stdout");
  return -result;
}

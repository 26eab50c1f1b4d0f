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

int dispatch(Context& ctx) {
  if (ctx.cmd_c) return show_catalogue(ctx);
  if (ctx.cmd_ic) return create_image(ctx);
  if (ctx.cmd_ii) return show_image_info(ctx);
  if (ctx.cmd_ir) return reconfigure_image(ctx);
  if (ctx.cmd_fa || ctx.cmd_fr) return add_file(ctx);
  if (ctx.cmd_fc) return add_complex_file(ctx);
  if (ctx.cmd_fl) return add_file_list(ctx);
  if (ctx.cmd_fp) return change_file(ctx);
  if (ctx.cmd_fd) return delete_files(ctx);
  if (ctx.cmd_fx) return extract_files(ctx);
  if (ctx.cmd_ml) return make_loader(ctx);
  if (ctx.cmd_li) return show_loader_info(ctx);
  return 0;
}

int run_command(int argc, char** argv, CommitMode mode, Context*& ctx) {
  if (argc <= 2) return SHOW_USAGE;
  int result = parse_options(argc, argv, ctx);
  if (result != 0) return result;
  ctx->commit_mode = mode;
  result = alloc_zeroed(ctx->work_buffer, WORK_BUFFER_SIZE);
  if (result == 0) result = alloc_zeroed(ctx->boot_area, BOOT_AREA_SIZE);
  if (result == 0) result = alloc_zeroed(ctx->directory_area, DIRECTORY_AREA_SIZE);
  if (result != 0) return result;
  return dispatch(*ctx);
}

}  // namespace

int run_vemtool(int argc, char** argv, CommitMode mode) {
  print_banner();
  Context* ctx = nullptr;
  int result = run_command(argc, argv, mode, ctx);
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

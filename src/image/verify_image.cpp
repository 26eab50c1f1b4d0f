// -iv: checks an image as it is found, never writing it; -iv -fix repairs
// what can be repaired without guessing and checks the result.
#include <algorithm>
#include <cstdio>

#include "cli/errors.h"
#include "image/file_io.h"
#include "image/image_check.h"
#include "image/image_commands.h"
#include "image/recovery.h"

namespace {

int run_check(Context& ctx, ImageCheck& check) {
  check_side_files(ctx, check);
  const int result = check_layout(ctx, check);
  return result != 0 ? result : check_content(ctx, check);
}

void print_findings(ImageCheck& check) {
  std::stable_sort(check.findings.begin(), check.findings.end(),
      [](const Finding& a, const Finding& b) { return a.order < b.order; });
  for (const Finding& finding : check.findings) {
    std::printf("%s: %s: %s\n", finding.severity == Severity::error ? "error" : "warning",
        finding.where.c_str(), finding.what.c_str());
  }
  std::printf("Errors: %d, warnings: %d\n", count_findings(check, Severity::error),
      count_findings(check, Severity::warning));
}

// 0 for a clean image, else the status of its worst finding.
int check_status(const Context& ctx, const ImageCheck& check) {
  if (count_findings(check, Severity::error) > 0)
    return report_error(ERR_IMAGE_ERRORS, ctx.image_name);
  if (count_findings(check, Severity::warning) > 0)
    return report_error(ERR_IMAGE_WARNINGS, ctx.image_name);
  return 0;
}

// What is left after a repair decides: errors, or success.
int repair_status(const Context& ctx, const ImageCheck& check) {
  if (count_findings(check, Severity::error) > 0)
    return report_error(ERR_IMAGE_ERRORS, ctx.image_name);
  return 0;
}

}  // namespace

int verify_image(Context& ctx) {
  const bool fix = ctx.opt_fix != 0;
  std::printf(fix ? "VEM image repair: %s\n" : "VEM image check: %s\n", ctx.image_name);
  // The side files are looked at before a repair acts on them.
  int result = open_image(ctx, OPEN_AS_FOUND);
  if (result != 0) return result;
  ImageCheck check;
  check_side_files(ctx, check);
  if (fix) {
    result = recover_image(ctx);
    if (result != 0) return result;
    // The image is held: new images beside it are what killed runs left.
    for (const std::string& stale : stale_new_images(ctx.image_path.c_str(), true))
      remove_file(stale.c_str());
  }
  result = check_layout(ctx, check);
  if (result == 0) result = check_content(ctx, check);
  if (result != 0) return result;
  print_findings(check);
  if (!fix) return check_status(ctx, check);

  for (const std::string& line : check.recovery) std::fputs(line.c_str(), stdout);
  const bool repair = needs_repair(check);
  if (!repair && check.recovery.empty()) {
    std::puts(count_findings(check, Severity::error) > 0 ? "Nothing a repair can mend."
                                                         : "Nothing to repair.");
    return repair_status(ctx, check);
  }
  if (repair) {
    result = repair_image(ctx, check);
    if (result != 0) return result;
  }
  std::printf("Repaired image:\n");
  ImageCheck after;
  result = run_check(ctx, after);
  if (result != 0) return result;
  print_findings(after);
  return repair_status(ctx, after);
}

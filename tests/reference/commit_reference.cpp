// The plain commit the tool's own is tested against: everything a plan
// describes is written in place, a whole new image over the emptied file;
// nothing is compared, journaled or synced. Linked in place of
// src/image/commit.cpp into the reference build.
#include <algorithm>
#include <vector>

#include "cli/errors.h"
#include "image/commit.h"
#include "image/file_io.h"

int commit(Context& ctx, const CommitPlan& plan) {
  // Every range's bytes first: a plan's copies within the image may come
  // from where other ranges write.
  std::vector<std::vector<std::uint8_t>> contents;
  for (const CommitWrite& write : plan.writes) {
    std::vector<std::uint8_t>& bytes =
        contents.emplace_back(static_cast<std::size_t>(write.length));
    if (write.source == WriteSource::bytes) {
      std::copy_n(write.bytes, write.length, bytes.begin());
    } else if (write.source == WriteSource::fill) {
      std::fill(bytes.begin(), bytes.end(), write.fill);
    } else if (os_read_at(ctx.image, bytes.data(), write.length, write.image_offset) !=
               write.length) {
      return report_error(ERR_READ, ctx.image_name);
    }
  }
  if (plan.whole_image) {
    if (plan.previous != PreviousImage::dropped) {
      const char* image = ctx.image_path.c_str();
      const std::string kept =
          plan.previous == PreviousImage::backup ? backup_name(image) : temporary_copy_name(image);
      const int result = copy_host_file(kept.c_str(), image);
      if (result != 0) return result;
    }
    if (!os_truncate(ctx.image, 0)) return report_error(ERR_WRITE, ctx.image_name);
  }
  ctx.image_length = -1;
  ctx.known_fill_from = -1;
  for (std::size_t i = 0; i < plan.writes.size(); ++i) {
    const CommitWrite& write = plan.writes[i];
    if (os_write_at(ctx.image, contents[i].data(), write.length, write.offset) != write.length)
      return report_error(ERR_WRITE, ctx.image_name);
  }
  return 0;
}

void hold_changes_together(Context&) {}
int end_changes(Context&) { return 0; }

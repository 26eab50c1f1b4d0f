#include "image/recovery.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "image/file_io.h"
#include "image/journal.h"

namespace {

std::string journal_path(const Context& ctx) { return journal_name(ctx.image_path.c_str()); }

// Reads the journal beside the image, not through a link. Only a plain file
// of the image's owner (or of this run's user) that no one may write who may
// not write the image is trusted.
JournalState load_journal(Context& ctx, JournalContents& journal) {
  const std::string path = journal_path(ctx);
  if (!name_exists(path.c_str())) return JournalState::none;
  OsFile file;
  if (!os_open(file, path.c_str(), OpenMode::read_no_follow)) return JournalState::untrusted;
  const FileStatus status = os_status(file);
  const FileStatus& image = ctx.image_status;
  bool trusted = status.known && status.regular;
  if (HOST_HAS_OWNERS && trusted) {
    constexpr std::uint32_t OTHERS_WRITE = 0022;
    trusted = (status.owner == image.owner || status.owner == current_user()) &&
              (status.mode & OTHERS_WRITE & ~image.mode) == 0;
  }
  const long size = trusted ? os_size(file) : -1;
  if (size >= 0) {
    journal.bytes.resize(static_cast<std::size_t>(size));
    trusted = os_read_at(file, journal.bytes.data(), size, 0) == size;
  }
  os_close(file);
  return trusted && size >= 0 ? parse_journal(journal) : JournalState::untrusted;
}

// Puts the old bytes of the records of `segment` over `into`, which holds
// the image from `offset` on, where they meet it.
void overlay(
    std::vector<std::uint8_t>& into, long offset, const std::vector<JournalRecord>& segment) {
  const long end = offset + static_cast<long>(into.size());
  for (const JournalRecord& record : segment) {
    const long from = std::max(offset, record.offset);
    const long to = std::min(end, record.offset + record.length);
    for (long at = from; at < to; ++at) {
      into[static_cast<std::size_t>(at - offset)] =
          record.fill ? record.old[0] : record.old[at - record.offset];
    }
  }
}

// Does every unit the journal covers hold its old bytes or its new ones, in
// the state each segment's rollback meets (the later segments rolled back)?
bool matches_image(Context& ctx, const JournalContents& journal) {
  const long size = os_size(ctx.image);
  if (size < journal.old_length) return false;  // a change never shortens the image
  std::vector<std::uint8_t> now;
  for (std::size_t k = journal.segments.size(); k-- > 0;) {
    for (const JournalRecord& record : journal.segments[k]) {
      if (record.offset + record.length > size) return false;
      now.resize(static_cast<std::size_t>(record.length));
      if (os_read_at(ctx.image, now.data(), record.length, record.offset) != record.length)
        return false;
      for (std::size_t later = journal.segments.size(); later-- > k + 1;)
        overlay(now, record.offset, journal.segments[later]);
      for (long unit = 0; unit < record.length; unit += record.unit) {
        const long n = std::min(record.unit, record.length - unit);
        const std::uint8_t* bytes = now.data() + unit;
        const bool old =
            record.fill
                ? std::all_of(bytes, bytes + n, [&](std::uint8_t b) { return b == record.old[0]; })
                : std::memcmp(bytes, record.old + unit, static_cast<std::size_t>(n)) == 0;
        if (!old && !holds_new_bytes(record, unit, bytes, n)) return false;
      }
    }
  }
  return true;
}

// A second name of the image itself that a killed -ir left is no copy worth keeping.
void remove_stale_copy(Context& ctx) {
  const std::string temporary = temporary_copy_name(ctx.image_path.c_str());
  if (same_identity(identity_of_path(temporary.c_str()), ctx.image_identity))
    remove_file(temporary.c_str());
}

}  // namespace

JournalReport inspect_journal(Context& ctx) {
  JournalContents journal;
  JournalReport report;
  report.state = load_journal(ctx, journal);
  if (report.state == JournalState::rolls_back && !matches_image(ctx, journal))
    report.state = JournalState::mismatched;
  report.segments = static_cast<int>(journal.segments.size());
  return report;
}

int recover_image(Context& ctx) {
  const std::string path = journal_path(ctx);
  JournalContents journal;
  JournalState state = load_journal(ctx, journal);
  if (state == JournalState::rolls_back && !matches_image(ctx, journal))
    state = JournalState::mismatched;
  switch (state) {
    case JournalState::none:
      break;
    case JournalState::untrusted:
    case JournalState::mismatched:
      return report_error(ERR_JOURNAL_REFUSED, path.c_str(), ctx.image_name);
    case JournalState::rolls_back:
      if (!roll_back(ctx.image, journal) || !os_sync(ctx.image))
        return report_error(ERR_WRITE, ctx.image_name);
      ctx.image_length = -1;
      [[fallthrough]];
    case JournalState::torn:
      if (remove_file(path.c_str()) != RemoveOutcome::removed)
        return report_error(ERR_ACCESS_WRITE, path.c_str());
      os_sync_directory_of(path.c_str());
      break;
  }
  remove_stale_copy(ctx);
  return 0;
}

int open_image(Context& ctx, ImageOpening opening) {
  const bool exclusive = command_writes_image(ctx);
  if (os_is_open(ctx.image) && ctx.image_locked_exclusive == exclusive) {
    ctx.image_length = -1;  // the last commit may have grown it
    return 0;
  }
  int result = open_image_file(ctx, opening, exclusive);
  if (result != 0 || opening == OPEN_AS_FOUND) return result;
  if (exclusive) return recover_image(ctx);
  // A reader finds the image as the last run left it; a change left
  // half-done must be rolled back before anything of it is shown.
  const JournalState journal = inspect_journal(ctx).state;
  // Nothing of a torn journal was acted on: it goes where it may.
  if (journal == JournalState::torn) remove_file(journal_name(ctx.image_path.c_str()).c_str());
  if (journal == JournalState::none || journal == JournalState::torn) return 0;
  if (journal != JournalState::rolls_back) {
    return report_error(
        ERR_JOURNAL_REFUSED, journal_name(ctx.image_path.c_str()).c_str(), ctx.image_name);
  }
  if (!image_writable(ctx)) return report_error(ERR_JOURNAL_NEEDS_WRITE, ctx.image_name);
  result = open_image_file(ctx, opening, true);
  if (result == 0) result = recover_image(ctx);
  if (result == 0 && os_lock(ctx.image, false) == LockOutcome::locked)
    ctx.image_locked_exclusive = false;
  return result;
}

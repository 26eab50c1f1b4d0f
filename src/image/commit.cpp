#include "image/commit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "cli/errors.h"
#include "image/file_io.h"
#include "image/journal.h"
#include "image/platform.h"

namespace {

constexpr long CHUNK = 1 << 16;  // a multiple of every comparison unit

// One range whose bytes differ; its new content comes from `write`.
struct Change {
  long offset;
  long length;
  const CommitWrite* write;
};

bool overlaps(const Change& change, const std::vector<ByteRange>& ranges) {
  return std::any_of(ranges.begin(), ranges.end(), [&](const ByteRange& range) {
    return change.offset < range.offset + range.length &&
           range.offset < change.offset + change.length;
  });
}

// Compares what `write` shall put into the image with what it holds, unit
// by unit; records the units that differ, and their old bytes in the
// journal (neighbours within a chunk as one record).
int find_changes(
    Context& ctx, const CommitWrite& write, long old_length, std::vector<Change>& changes) {
  const long end = write.offset + write.length;
  // Free space this run has filled already needs no second look.
  if (write.source == WriteSource::fill && write.fill == FREE_SECTOR_FILL &&
      ctx.known_fill_from >= 0 && write.offset >= ctx.known_fill_from && end <= old_length) {
    return 0;
  }
  // The old bytes of a chunk, then the bytes the write wants there when
  // they are no plain array; kept for the run.
  ctx.commit_buffer.resize(2 * CHUNK);
  std::uint8_t* old = ctx.commit_buffer.data();
  std::uint8_t* wanted = old + CHUNK;
  if (write.source == WriteSource::fill)
    std::fill_n(wanted, std::min(CHUNK, write.length), write.fill);
  for (long position = write.offset; position < end; position += CHUNK) {
    const long n = std::min(CHUNK, end - position);
    const long source = write.image_offset + (position - write.offset);
    if (write.source == WriteSource::image && os_read_at(ctx.image, wanted, n, source) != n) {
      return report_error(ERR_READ, ctx.image_name);
    }
    const std::uint8_t* fresh =
        write.source == WriteSource::bytes ? write.bytes + (position - write.offset) : wanted;
    // Bytes past the end of the file are missing: they always differ.
    const long present = std::clamp(old_length - position, 0L, n);
    if (ctx.known_fill_from >= 0 && position >= ctx.known_fill_from) {
      std::fill_n(old, present, FREE_SECTOR_FILL);
    } else if (present > 0 && os_read_at(ctx.image, old, present, position) != present) {
      return report_error(ERR_READ, ctx.image_name);
    }
    long run_from = 0;  // old bytes [run_from, run_to) of this chunk not yet recorded
    long run_to = 0;
    for (long unit = 0; unit < n; unit += write.unit) {
      const long length = std::min<long>(write.unit, n - unit);
      const bool differs = unit + length > present || std::memcmp(old + unit, fresh + unit,
                                                          static_cast<std::size_t>(length)) != 0;
      if (!differs) continue;
      const long kept = std::min(length, std::max(0L, present - unit));
      if (kept > 0 && run_to != unit) {
        const int result = journal_range(ctx, position + run_from, old + run_from, fresh + run_from,
            run_to - run_from, write.unit);
        if (result != 0) return result;
        run_from = unit;
      }
      if (kept > 0) run_to = unit + kept;
      Change* last = changes.empty() ? nullptr : &changes.back();
      if (last != nullptr && last->write == &write &&
          last->offset + last->length == position + unit) {
        last->length += length;
      } else {
        changes.push_back({position + unit, length, &write});
      }
    }
    const int result = journal_range(
        ctx, position + run_from, old + run_from, fresh + run_from, run_to - run_from, write.unit);
    if (result != 0) return result;
  }
  return 0;
}

// Writes the changes in ascending order. A copy within the image moves data
// down only (place_entries loads what moves up), and everything written
// before it lies below its target, so its source still holds the old bytes.
int write_changes(Context& ctx, const std::vector<Change>& changes) {
  ctx.commit_buffer.resize(2 * CHUNK);
  std::uint8_t* piece = ctx.commit_buffer.data();
  for (const Change& change : changes) {
    const CommitWrite& write = *change.write;
    if (write.source == WriteSource::bytes) {
      const std::uint8_t* bytes = write.bytes + (change.offset - write.offset);
      if (os_write_at(ctx.image, bytes, change.length, change.offset) != change.length) {
        return report_error(ERR_WRITE, ctx.image_name);
      }
      continue;
    }
    if (write.source == WriteSource::fill) {
      std::fill_n(piece, std::min(CHUNK, change.length), write.fill);
    }
    for (long done = 0; done < change.length;) {
      const long n = std::min(CHUNK, change.length - done);
      const long source = write.image_offset + (change.offset + done - write.offset);
      if (write.source == WriteSource::image && os_read_at(ctx.image, piece, n, source) != n) {
        return report_error(ERR_READ, ctx.image_name);
      }
      if (os_write_at(ctx.image, piece, n, change.offset + done) != n) {
        return report_error(ERR_WRITE, ctx.image_name);
      }
      done += n;
    }
  }
  return 0;
}

// After a change, the free area from the last 0xFF fill to the end of the
// image is known, so the next change in the same run need not read it.
void learn_fill(Context& ctx, const CommitPlan& plan) {
  ctx.known_fill_from = -1;
  for (const CommitWrite& write : plan.writes) {
    if (write.source == WriteSource::fill && write.fill == FREE_SECTOR_FILL &&
        write.offset + write.length == ctx.image_size) {
      ctx.known_fill_from = write.offset;
    }
  }
}

int commit_in_place(Context& ctx, const CommitPlan& plan) {
  const long old_length = image_file_length(ctx);
  if (old_length < 0) return static_cast<int>(old_length);
  begin_segment(ctx, old_length);
  std::vector<Change> changes;
  int result = 0;
  for (const CommitWrite& write : plan.writes) {
    result = find_changes(ctx, write, old_length, changes);
    if (result != 0) break;
  }
  if (result != 0 || changes.empty()) {
    discard_segment(ctx);
    if (result == 0) learn_fill(ctx, plan);
    // A failed write takes back the changes held together before this one.
    if (ctx.journal.write_failed) abandon_changes(ctx);
    return result;
  }
  // Held changes keep what the image held before the first of them: space
  // an earlier one freed is old data in the state a rollback returns to.
  std::vector<ByteRange>& before = ctx.journal.held_occupied;
  if (ctx.journal.held && ctx.journal.segment_first) before = plan.occupied;
  const bool durable = std::any_of(changes.begin(), changes.end(), [&](const Change& change) {
    return overlaps(change, plan.occupied) || (ctx.journal.held && overlaps(change, before));
  });
  const StopSignalsHeld signals_held;
  result = seal_segment(ctx, durable);
  if (result != 0) {
    discard_segment(ctx);
    abandon_changes(ctx);
    return result;
  }
  result = write_changes(ctx, changes);
  ctx.image_length = -1;
  if (result != 0) {
    abandon_changes(ctx);
    return result;
  }
  learn_fill(ctx, plan);
  if (ctx.journal.held) return 0;
  return finish_journal(ctx);
}

// Writes ranges given in ascending order to a file, gathering neighbours
// into few system calls.
class SequentialWriter {
 public:
  explicit SequentialWriter(const OsFile& file) : file_(file) { buffer_.reserve(LIMIT); }

  bool put(long offset, const std::uint8_t* bytes, long length) {
    if (offset != start_ + static_cast<long>(buffer_.size()) && !flush()) return false;
    if (buffer_.empty()) start_ = offset;
    while (length > 0) {
      const long n = std::min(length, LIMIT - static_cast<long>(buffer_.size()));
      buffer_.insert(buffer_.end(), bytes, bytes + n);
      bytes += n;
      length -= n;
      if (static_cast<long>(buffer_.size()) == LIMIT && !flush()) return false;
    }
    return true;
  }
  bool flush() {
    const auto size = static_cast<long>(buffer_.size());
    const bool written = size == 0 || os_write_at(file_, buffer_.data(), size, start_) == size;
    start_ += size;
    buffer_.clear();
    return written;
  }

 private:
  static constexpr long LIMIT = 4 * CHUNK;
  const OsFile& file_;
  std::vector<std::uint8_t> buffer_;
  long start_ = 0;
};

// Writes every range of a whole-image plan into `out`; content from the
// image is read from the open image.
int write_whole(Context& ctx, const OsFile& out, const CommitPlan& plan) {
  SequentialWriter writer(out);
  std::vector<std::uint8_t> piece;
  for (const CommitWrite& write : plan.writes) {
    for (long done = 0; done < write.length;) {
      const long n = std::min(CHUNK, write.length - done);
      const std::uint8_t* bytes = nullptr;
      if (write.source == WriteSource::bytes) {
        bytes = write.bytes + done;
      } else {
        piece.resize(static_cast<std::size_t>(n));
        if (write.source == WriteSource::fill) {
          std::fill(piece.begin(), piece.end(), write.fill);
        } else if (os_read_at(ctx.image, piece.data(), n, write.image_offset + done) != n) {
          return report_error(ERR_READ, ctx.image_name);
        }
        bytes = piece.data();
      }
      if (!writer.put(write.offset + done, bytes, n))
        return report_error(ERR_WRITE, ctx.image_name);
      done += n;
    }
  }
  return writer.flush() ? 0 : report_error(ERR_WRITE, ctx.image_name);
}

// The previous image as IMAGE.tmp or IMAGE.bak: a second name for the same
// file where the host allows one, a copy elsewhere. Windows takes a copy: a
// second name of a file another program holds open could not be removed if
// the switch then fails. A leftover IMAGE.tmp is replaced (one that may not
// be is refused); a backup never replaces a file.
int keep_previous_image(Context& ctx, const std::string& kept, bool backup) {
  const char* image = ctx.image_path.c_str();
  if (backup ? name_exists(kept.c_str()) : remove_file(kept.c_str()) == RemoveOutcome::denied)
    return report_error(ERR_ACCESS_WRITE, kept.c_str());
  if (HOST_REPLACES_OPEN_FILES && link_file(image, kept.c_str())) return 0;
  return copy_host_file(kept.c_str(), image);
}

int commit_whole_image(Context& ctx, const CommitPlan& plan) {
  const long old_length = image_file_length(ctx);
  if (old_length < 0) return static_cast<int>(old_length);
  const char* image = ctx.image_path.c_str();
  // This run holds the image: new images beside it are what killed runs left.
  for (const std::string& stale : stale_new_images(image, true)) remove_file(stale.c_str());
  // Under a name nothing else has, and never more open than the image.
  const std::uint32_t permissions = ctx.image_status.known ? ctx.image_status.mode & 0666 : 0666;
  OsFile out;
  std::string fresh;
  if (!make_unique_file(new_image_prefix(image), permissions, out, fresh)) {
    return report_error(ERR_OPEN_WRITE, (new_image_prefix(image) + "XXXXXX").c_str());
  }
  // Runs that open the new image once it is in place wait for this one.
  os_lock(out, true);
  const bool durable = old_length > 0;
  int result = write_whole(ctx, out, plan);
  // The permissions and, where the process may, the owner of the image it replaces.
  if (result == 0) os_apply_mode(out, ctx.image_status);
  if (result == 0 && durable && !os_sync(out)) result = report_error(ERR_WRITE, ctx.image_name);
  const bool backup = plan.previous == PreviousImage::backup;
  const std::string kept = backup ? backup_name(image) : temporary_copy_name(image);
  const bool keep = plan.previous != PreviousImage::dropped;
  if (result == 0 && keep) result = keep_previous_image(ctx, kept, backup);
  if (result == 0) {
    const StopSignalsHeld held;
    // Where the old image must be closed first, a failed replace leaves it
    // closed; the next opening of the image finds it again by name.
    if (!HOST_REPLACES_OPEN_FILES) os_close(ctx.image);
    if (replace_file(fresh.c_str(), image, IMAGE_LOCK_WAIT_MS)) {
      if (durable) os_sync_directory_of(image);
      os_close(ctx.image);
      ctx.image = out;
      ctx.image_identity = os_identity(out);
      ctx.image_length = plan.length;
      ctx.known_fill_from = -1;
      return 0;
    }
    // Held open by another program past the wait: nothing stays behind.
    result = report_error(ERR_ACCESS_WRITE, ctx.image_name);
    if (keep) remove_file(kept.c_str());
  }
  os_close(out);
  remove_file(fresh.c_str());
  return result;
}

}  // namespace

void hold_changes_together(Context& ctx) { ctx.journal.held = true; }

int end_changes(Context& ctx) {
  ctx.journal.held = false;
  const StopSignalsHeld held;
  return finish_journal(ctx);
}

int commit(Context& ctx, const CommitPlan& plan) {
  return plan.whole_image ? commit_whole_image(ctx, plan) : commit_in_place(ctx, plan);
}

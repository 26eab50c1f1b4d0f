#include "image/commit.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "cli/errors.h"
#include "image/file_io.h"
#include "image/platform.h"

namespace {

constexpr long CHUNK = 1 << 16;  // a multiple of every comparison unit

// IMAGE.jnl: a header (magic, the image's length before the first change,
// its identity), then one segment per commit (body length, records, a
// checksum of the body, an end mark). A record holds the old bytes of one
// range, or one byte when they were all alike. A segment is written before
// its commit touches the image, so a torn one was never acted on.
constexpr std::array<char, 8> JOURNAL_MAGIC = {'V', 'E', 'M', 'J', 'R', 'N', 'L', '2'};
constexpr std::array<char, 8> SEGMENT_END = {'V', 'E', 'M', 'J', 'E', 'N', 'D', '2'};
constexpr std::uint8_t RECORD_BYTES = 0;
constexpr std::uint8_t RECORD_FILL = 1;
constexpr std::size_t JOURNAL_HEADER = 8 + 8 + 8 + 8;  // magic, old length, identity
constexpr std::size_t SEGMENT_HEAD = 8;                // body length
constexpr std::size_t SEGMENT_TAIL = 8 + 8;            // checksum, end mark
constexpr std::size_t RECORD_HEADER = 1 + 8 + 8;       // kind, offset, length

using U64Bytes = std::array<std::uint8_t, 8>;

U64Bytes u64_bytes(std::uint64_t value) {
  U64Bytes bytes{};
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  return bytes;
}

std::uint64_t get_u64(const std::uint8_t* in) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | in[i];
  return value;
}

// FNV-1a over 8-byte words (then the odd bytes): a torn journal is caught,
// and megabytes of moved data cost little to check. Fed piece by piece as
// records are made.
class WordChecksum {
 public:
  void add(const std::uint8_t* data, std::size_t length) {
    if (carried_ > 0) {
      const std::size_t n = std::min(length, carry_.size() - carried_);
      std::memcpy(carry_.data() + carried_, data, n);
      carried_ += n;
      data += n;
      length -= n;
      if (carried_ < carry_.size()) return;
      hash_ = (hash_ ^ get_u64(carry_.data())) * PRIME;
      carried_ = 0;
    }
    for (; length >= 8; data += 8, length -= 8) hash_ = (hash_ ^ get_u64(data)) * PRIME;
    std::memcpy(carry_.data(), data, length);
    carried_ = length;
  }
  std::uint64_t value() const {
    std::uint64_t hash = hash_;
    for (std::size_t i = 0; i < carried_; ++i) hash = (hash ^ carry_[i]) * PRIME;
    return hash;
  }

 private:
  static constexpr std::uint64_t PRIME = 1099511628211ull;
  std::uint64_t hash_ = 14695981039346656037ull;
  U64Bytes carry_{};
  std::size_t carried_ = 0;
};

std::uint64_t checksum(const std::uint8_t* data, std::size_t length) {
  WordChecksum sum;
  sum.add(data, length);
  return sum.value();
}

// Writes one commit's segment into IMAGE.jnl through ctx.journal_buffer, so
// that the old bytes of megabytes of moved data pass through one small
// buffer; the run's first segment brings the header and makes the file.
class SegmentWriter {
 public:
  SegmentWriter(Context& ctx, long old_length)
      : ctx_(ctx), first_(!os_is_open(ctx.journal_file)), start_(ctx.journal_length) {
    ctx_.journal_buffer.clear();
    ctx_.journal_buffer.reserve(static_cast<std::size_t>(FLUSH_AT + CHUNK));
    if (first_) {
      ctx_.journal_length = 0;
      append(JOURNAL_MAGIC.data(), JOURNAL_MAGIC.size(), false);
      append_u64(static_cast<std::uint64_t>(old_length), false);
      append_u64(ctx_.image_identity.volume, false);
      append_u64(ctx_.image_identity.index, false);
    }
    head_ = ctx_.journal_length + static_cast<long>(ctx_.journal_buffer.size());
    append_u64(0, false);  // the body length, set by seal
  }

  // The old bytes of one range, or one byte when they are all alike.
  int add_record(long offset, const std::uint8_t* old, long length) {
    if (length <= 0) return 0;
    const bool uniform =
        std::all_of(old, old + length, [&](std::uint8_t b) { return b == old[0]; });
    const std::uint8_t kind = uniform ? RECORD_FILL : RECORD_BYTES;
    append(&kind, 1, true);
    append_u64(static_cast<std::uint64_t>(offset), true);
    append_u64(static_cast<std::uint64_t>(length), true);
    append(old, uniform ? 1 : static_cast<std::size_t>(length), true);
    return ctx_.journal_buffer.size() >= static_cast<std::size_t>(FLUSH_AT) ? flush() : 0;
  }

  // Completes the segment in the file, synced when `durable`.
  int seal(bool durable) {
    const U64Bytes length = u64_bytes(body_length_);
    if (head_ >= ctx_.journal_length) {
      std::copy(length.begin(), length.end(),
          ctx_.journal_buffer.begin() + (head_ - ctx_.journal_length));
    } else if (os_write_at(ctx_.journal_file, length.data(), 8, head_) != 8) {
      return fail();
    }
    append_u64(sum_.value(), false);
    append(SEGMENT_END.data(), SEGMENT_END.size(), false);
    const int result = flush();
    if (result != 0) return result;
    if (durable && !os_sync(ctx_.journal_file)) return fail();
    // The first segment that must survive a power cut makes the name durable too.
    if (durable && !ctx_.journal_durable) os_sync_directory_of(name().c_str());
    return 0;
  }

  bool write_failed() const { return write_failed_; }

  // Takes the segment out again: nothing of it reached the image.
  void discard() {
    ctx_.journal_buffer.clear();
    if (first_) {
      if (os_is_open(ctx_.journal_file)) {
        os_close(ctx_.journal_file);
        remove_file(name().c_str());
      }
    } else if (ctx_.journal_length > start_) {
      os_truncate(ctx_.journal_file, start_);
    }
    ctx_.journal_length = first_ ? 0 : start_;
  }

 private:
  static constexpr long FLUSH_AT = 4 * CHUNK;

  std::string name() const { return journal_name(ctx_.image_name); }

  void append(const void* bytes, std::size_t length, bool body) {
    const auto* data = static_cast<const std::uint8_t*>(bytes);
    ctx_.journal_buffer.insert(ctx_.journal_buffer.end(), data, data + length);
    if (!body) return;
    sum_.add(data, length);
    body_length_ += length;
  }
  void append_u64(std::uint64_t value, bool body) {
    const U64Bytes bytes = u64_bytes(value);
    append(bytes.data(), bytes.size(), body);
  }

  int flush() {
    if (!os_is_open(ctx_.journal_file) &&
        !os_open(ctx_.journal_file, name().c_str(), OpenMode::create_new_truncated)) {
      return report_error(ERR_OPEN_WRITE, name().c_str());
    }
    const auto size = static_cast<long>(ctx_.journal_buffer.size());
    if (os_write_at(ctx_.journal_file, ctx_.journal_buffer.data(), size, ctx_.journal_length) !=
        size) {
      return fail();
    }
    ctx_.journal_length += size;
    ctx_.journal_buffer.clear();
    return 0;
  }
  int fail() {
    write_failed_ = true;
    return report_error(ERR_WRITE, name().c_str());
  }

  Context& ctx_;
  const bool first_;
  const long start_;  // where the segment begins in the file
  long head_ = 0;     // where its body length goes
  std::uint64_t body_length_ = 0;
  WordChecksum sum_;
  bool write_failed_ = false;
};

// The bodies of the whole segments of a journal, in order; empty when the
// journal is not one (another program's file, or its header torn).
std::vector<std::pair<std::size_t, std::size_t>> whole_segments(
    const std::vector<std::uint8_t>& journal) {
  std::vector<std::pair<std::size_t, std::size_t>> bodies;
  if (journal.size() < JOURNAL_HEADER ||
      !std::equal(JOURNAL_MAGIC.begin(), JOURNAL_MAGIC.end(), journal.begin())) {
    return bodies;
  }
  for (std::size_t at = JOURNAL_HEADER; journal.size() - at >= SEGMENT_HEAD + SEGMENT_TAIL;) {
    const std::uint64_t length = get_u64(journal.data() + at);
    if (length > journal.size() - at - SEGMENT_HEAD - SEGMENT_TAIL) break;
    const std::size_t body = at + SEGMENT_HEAD;
    const std::size_t tail = body + static_cast<std::size_t>(length);
    if (get_u64(journal.data() + tail) !=
            checksum(journal.data() + body, static_cast<std::size_t>(length)) ||
        !std::equal(SEGMENT_END.begin(), SEGMENT_END.end(),
            journal.begin() + static_cast<long>(tail) + 8)) {
      break;
    }
    bodies.emplace_back(body, static_cast<std::size_t>(length));
    at = tail + SEGMENT_TAIL;
  }
  return bodies;
}

bool journal_belongs_to(const std::vector<std::uint8_t>& journal, const FileIdentity& identity) {
  if (!identity.known) return true;
  return get_u64(journal.data() + 16) == identity.volume &&
         get_u64(journal.data() + 24) == identity.index;
}

bool put_back_records(const OsFile& image, const std::uint8_t* body, std::size_t length) {
  std::array<std::uint8_t, 4096> fill_piece{};
  for (std::size_t at = 0; at < length;) {
    if (length - at < RECORD_HEADER) return false;
    const std::uint8_t kind = body[at];
    const auto offset = static_cast<long>(get_u64(body + at + 1));
    const auto size = static_cast<long>(get_u64(body + at + 9));
    at += RECORD_HEADER;
    if (kind == RECORD_BYTES) {
      if (size < 0 || static_cast<std::size_t>(size) > length - at) return false;
      if (os_write_at(image, body + at, size, offset) != size) return false;
      at += static_cast<std::size_t>(size);
      continue;
    }
    if (at >= length || size < 0) return false;
    fill_piece.fill(body[at++]);
    for (long done = 0; done < size;) {
      const long piece = std::min<long>(size - done, static_cast<long>(fill_piece.size()));
      if (os_write_at(image, fill_piece.data(), piece, offset + done) != piece) return false;
      done += piece;
    }
  }
  return true;
}

// Puts back the old bytes of every whole segment, the last first (a later
// commit may have changed what an earlier one wrote), then the old length.
// False when a write fails: the journal then stays for the next run.
bool roll_back(const OsFile& image, const std::vector<std::uint8_t>& journal) {
  const auto segments = whole_segments(journal);
  for (auto segment = segments.rbegin(); segment != segments.rend(); ++segment) {
    if (!put_back_records(image, journal.data() + segment->first, segment->second)) return false;
  }
  if (segments.empty()) return true;
  const auto old_length = static_cast<long>(get_u64(journal.data() + 8));
  return os_size(image) <= old_length || os_truncate(image, old_length);
}

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
int find_changes(Context& ctx, const CommitWrite& write, long old_length,
    std::vector<Change>& changes, SegmentWriter& journal) {
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
        const int result =
            journal.add_record(position + run_from, old + run_from, run_to - run_from);
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
    const int result = journal.add_record(position + run_from, old + run_from, run_to - run_from);
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

// Takes back every change the journal holds, at once; where even that
// fails, the journal stays and the next run that opens the image does it.
void abandon_changes(Context& ctx) {
  ctx.known_fill_from = -1;
  if (os_is_open(ctx.journal_file)) {
    std::vector<std::uint8_t> journal(static_cast<std::size_t>(ctx.journal_length));
    const bool restored =
        os_read_at(ctx.journal_file, journal.data(), ctx.journal_length, 0) == ctx.journal_length &&
        roll_back(ctx.image, journal) && os_sync(ctx.image);
    os_close(ctx.journal_file);
    if (restored) remove_file(journal_name(ctx.image_name).c_str());
  }
  ctx.journal_length = 0;
  ctx.journal_durable = false;
}

// The changes are complete: once the image is on disk where that matters,
// the journal goes.
int finish_journal(Context& ctx) {
  if (!os_is_open(ctx.journal_file)) return 0;
  if (ctx.journal_durable && !os_sync(ctx.image)) {
    const int result = report_error(ERR_WRITE, ctx.image_name);
    abandon_changes(ctx);
    return result;
  }
  const std::string name = journal_name(ctx.image_name);
  os_close(ctx.journal_file);
  remove_file(name.c_str());
  if (ctx.journal_durable) os_sync_directory_of(name.c_str());
  ctx.journal_length = 0;
  ctx.journal_durable = false;
  return 0;
}

int commit_in_place(Context& ctx, const CommitPlan& plan) {
  const long old_length = image_file_length(ctx);
  if (old_length < 0) return static_cast<int>(old_length);
  SegmentWriter journal(ctx, old_length);
  std::vector<Change> changes;
  int result = 0;
  for (const CommitWrite& write : plan.writes) {
    result = find_changes(ctx, write, old_length, changes, journal);
    if (result != 0) break;
  }
  if (result != 0 || changes.empty()) {
    journal.discard();
    if (result == 0) learn_fill(ctx, plan);
    // A failed write takes back the changes held together before this one.
    if (journal.write_failed()) abandon_changes(ctx);
    return result;
  }
  const bool durable = std::any_of(changes.begin(), changes.end(),
      [&](const Change& change) { return overlaps(change, plan.occupied); });
  const StopSignalsHeld held;
  result = journal.seal(durable);
  if (result != 0) {
    journal.discard();
    abandon_changes(ctx);
    return result;
  }
  ctx.journal_durable = ctx.journal_durable || durable;
  result = write_changes(ctx, changes);
  ctx.image_length = -1;
  if (result != 0) {
    abandon_changes(ctx);
    return result;
  }
  learn_fill(ctx, plan);
  if (ctx.keep_journal) return 0;
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
// file where the host allows one, a copy elsewhere. A backup never replaces
// a file of its name.
int keep_previous_image(Context& ctx, PreviousImage previous) {
  const bool backup = previous == PreviousImage::backup;
  const std::string kept =
      backup ? backup_name(ctx.image_name) : temporary_copy_name(ctx.image_name);
  if (backup && path_exists(kept.c_str())) return report_error(ERR_ACCESS_WRITE, kept.c_str());
  if (!backup) remove_file(kept.c_str());
  if (link_file(ctx.image_name, kept.c_str())) return 0;
  return copy_host_file(kept.c_str(), ctx.image_name);
}

int commit_whole_image(Context& ctx, const CommitPlan& plan) {
  const long old_length = image_file_length(ctx);
  if (old_length < 0) return static_cast<int>(old_length);
  const std::string fresh = new_image_name(ctx.image_name);
  OsFile out;
  if (!os_open(out, fresh.c_str(), OpenMode::create_new_truncated)) {
    return report_error(ERR_OPEN_WRITE, fresh.c_str());
  }
  // Runs that open the new image once it is in place wait for this one.
  os_lock(out, true, 0);
  const bool durable = old_length > 0;
  int result = write_whole(ctx, out, plan);
  const bool keep = plan.previous != PreviousImage::dropped;
  if (result == 0 && keep) os_apply_mode(out, mode_of(ctx.image_name));
  if (result == 0 && durable && !os_sync(out)) result = report_error(ERR_WRITE, ctx.image_name);
  if (result == 0 && keep) result = keep_previous_image(ctx, plan.previous);
  if (result == 0) {
    const StopSignalsHeld held;
    // Where the old image must be closed first, a failed replace leaves it
    // closed; the next opening of the image finds it again by name.
    if (!HOST_REPLACES_OPEN_FILES) os_close(ctx.image);
    if (replace_file(fresh.c_str(), ctx.image_name)) {
      if (durable) os_sync_directory_of(ctx.image_name);
      os_close(ctx.image);
      ctx.image = out;
      ctx.image_identity = os_identity(out);
      ctx.image_length = plan.length;
      ctx.known_fill_from = -1;
      return 0;
    }
    result = report_error(ERR_WRITE, ctx.image_name);
  }
  os_close(out);
  remove_file(fresh.c_str());
  return result;
}

// The plain way, kept as the reference the minimal commit is tested against:
// every range written in place, a whole image over the truncated file.
int rewrite_in_place(Context& ctx, const CommitPlan& plan) {
  if (plan.whole_image) {
    if (plan.previous != PreviousImage::dropped) {
      const std::string temporary = plan.previous == PreviousImage::backup
                                        ? backup_name(ctx.image_name)
                                        : temporary_copy_name(ctx.image_name);
      const int result = copy_host_file(temporary.c_str(), ctx.image_name);
      if (result != 0) return result;
    }
    if (!os_truncate(ctx.image, 0)) return report_error(ERR_WRITE, ctx.image_name);
  }
  const int result = write_whole(ctx, ctx.image, plan);
  ctx.image_length = -1;
  ctx.known_fill_from = -1;
  return result;
}

}  // namespace

CommitWrite bytes_write(long offset, long length, const std::uint8_t* bytes, int unit) {
  return {offset, length, WriteSource::bytes, bytes, 0, 0, unit};
}

CommitWrite fill_write(long offset, long length, std::uint8_t fill) {
  return {offset, length, WriteSource::fill, nullptr, fill, 0, SECTOR_SIZE};
}

CommitWrite image_write(long offset, long length, long image_offset) {
  return {offset, length, WriteSource::image, nullptr, 0, image_offset, SECTOR_SIZE};
}

void hold_changes_together(Context& ctx) { ctx.keep_journal = true; }

int end_changes(Context& ctx) {
  ctx.keep_journal = false;
  const StopSignalsHeld held;
  return finish_journal(ctx);
}

int commit(Context& ctx, const CommitPlan& plan) {
  if (ctx.commit_mode == CommitMode::full_rewrite) return rewrite_in_place(ctx, plan);
  return plan.whole_image ? commit_whole_image(ctx, plan) : commit_in_place(ctx, plan);
}

int recover_image(Context& ctx) {
  const std::string journal_path = journal_name(ctx.image_name);
  // Only a run that holds the image exclusively puts bytes back.
  if (ctx.image_locked_exclusive && path_exists(journal_path.c_str())) {
    std::vector<std::uint8_t> journal;
    {
      FileGuard file(open_host_stream(journal_path.c_str(), "rb"));
      if (!file) return report_error(ERR_OPEN_READ, journal_path.c_str());
      std::array<std::uint8_t, 1 << 14> piece{};
      std::size_t n = 0;
      while ((n = std::fread(piece.data(), 1, piece.size(), file.get())) > 0) {
        journal.insert(journal.end(), piece.begin(), piece.begin() + static_cast<long>(n));
      }
    }
    // A torn segment was never acted on; a journal of another file is not ours.
    if (journal.size() >= JOURNAL_HEADER && journal_belongs_to(journal, ctx.image_identity)) {
      if (!roll_back(ctx.image, journal) || !os_sync(ctx.image)) {
        return report_error(ERR_WRITE, ctx.image_name);
      }
    }
    if (remove_file(journal_path.c_str()) != RemoveOutcome::removed) {
      return report_error(ERR_ACCESS_WRITE, journal_path.c_str());
    }
    os_sync_directory_of(journal_path.c_str());
    ctx.image_length = -1;
  }
  // A new image that a killed -ic or -ir did not put in place is dropped;
  // a second name of the image itself that -ir made is no copy worth keeping.
  const std::string fresh = new_image_name(ctx.image_name);
  if (path_exists(fresh.c_str())) remove_file(fresh.c_str());
  const std::string temporary = temporary_copy_name(ctx.image_name);
  if (same_identity(identity_of_path(temporary.c_str()), ctx.image_identity))
    remove_file(temporary.c_str());
  return 0;
}

#include "image/journal.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "image/file_io.h"

namespace {

// IMAGE.jnl: a header (magic, the image's length before the first change, a
// checksum of both), then one segment per commit (body length, records, a
// checksum of the body, an end mark). A record holds the old bytes of one
// range (one byte when they were all alike) and a short checksum of the new
// bytes of each unit of it. A segment is complete before its commit touches the
// image, so a torn one was never acted on.
constexpr std::array<char, 8> JOURNAL_MAGIC = {'V', 'E', 'M', 'J', 'R', 'N', 'L', '3'};
constexpr std::size_t MAGIC_FAMILY = 7;  // "VEMJRNL": the start of every version's magic
constexpr std::array<char, 8> SEGMENT_END = {'V', 'E', 'M', 'J', 'E', 'N', 'D', '3'};
constexpr std::uint8_t RECORD_BYTES = 0;
constexpr std::uint8_t RECORD_FILL = 1;
constexpr std::size_t JOURNAL_HEADER = 8 + 8 + 8;     // magic, old length, checksum
constexpr std::size_t SEGMENT_HEAD = 8;               // body length
constexpr std::size_t SEGMENT_TAIL = 8 + 8;           // checksum, end mark
constexpr std::size_t RECORD_HEADER = 1 + 8 + 8 + 8;  // kind, offset, length, unit
constexpr std::size_t FLUSH_AT = 1 << 18;

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
// and megabytes of moved data cost little to check.
constexpr std::uint64_t FNV_PRIME = 1099511628211ull;
constexpr RunningChecksum NEW_CHECKSUM = {14695981039346656037ull, {}, 0};

void checksum_add(RunningChecksum& sum, const std::uint8_t* data, std::size_t length) {
  if (sum.carried > 0) {
    const std::size_t n = std::min(length, sum.carry.size() - sum.carried);
    std::memcpy(sum.carry.data() + sum.carried, data, n);
    sum.carried += n;
    data += n;
    length -= n;
    if (sum.carried < sum.carry.size()) return;
    sum.hash = (sum.hash ^ get_u64(sum.carry.data())) * FNV_PRIME;
    sum.carried = 0;
  }
  for (; length >= 8; data += 8, length -= 8) sum.hash = (sum.hash ^ get_u64(data)) * FNV_PRIME;
  std::memcpy(sum.carry.data(), data, length);
  sum.carried = length;
}

std::uint64_t checksum_value(const RunningChecksum& sum) {
  std::uint64_t hash = sum.hash;
  for (std::size_t i = 0; i < sum.carried; ++i) hash = (hash ^ sum.carry[i]) * FNV_PRIME;
  return hash;
}

std::uint64_t checksum(const std::uint8_t* data, std::size_t length) {
  RunningChecksum sum = NEW_CHECKSUM;
  checksum_add(sum, data, length);
  return checksum_value(sum);
}

// What a record keeps of the new bytes of a unit: enough to tell them from
// other bytes, cheap to make for megabytes. A slot whole, of a sector its
// first and last 16 bytes; 4 bytes of checksum.
constexpr std::size_t UNIT_SUM = 4;
constexpr long SAMPLE = 16;

std::uint32_t unit_sum(const std::uint8_t* unit, long length) {
  std::uint64_t hash = NEW_CHECKSUM.hash;
  if (length >= 2 * SAMPLE) {
    for (const long at : {0L, 8L, length - 16, length - 8})
      hash = (hash ^ get_u64(unit + at)) * FNV_PRIME;
  } else {
    for (long at = 0; at < length; ++at) hash = (hash ^ unit[at]) * FNV_PRIME;
  }
  return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

std::uint32_t get_u32(const std::uint8_t* in) {
  return static_cast<std::uint32_t>(in[0] | (in[1] << 8) | (in[2] << 16)) |
         (static_cast<std::uint32_t>(in[3]) << 24);
}

std::string journal_path(const Context& ctx) { return journal_name(ctx.image_path.c_str()); }

// --- Writing -------------------------------------------------------------

void append(JournalRun& journal, const void* bytes, std::size_t length, bool body) {
  const auto* data = static_cast<const std::uint8_t*>(bytes);
  journal.buffer.insert(journal.buffer.end(), data, data + length);
  if (!body) return;
  checksum_add(journal.body_sum, data, length);
  journal.body_length += length;
}

void append_u64(JournalRun& journal, std::uint64_t value, bool body) {
  const U64Bytes bytes = u64_bytes(value);
  append(journal, bytes.data(), bytes.size(), body);
}

int write_failed(Context& ctx) {
  ctx.journal.write_failed = true;
  return report_error(ERR_WRITE, journal_path(ctx).c_str());
}

// Writes the buffered bytes; the first write makes the file, where nothing
// may stand yet, with no more permissions than the image.
int flush(Context& ctx) {
  JournalRun& journal = ctx.journal;
  if (!os_is_open(journal.file)) {
    const std::uint32_t permissions = ctx.image_status.known ? ctx.image_status.mode & 0666 : 0600;
    if (!os_open(journal.file, journal_path(ctx).c_str(), OpenMode::create_exclusive, permissions))
      return report_error(ERR_OPEN_WRITE, journal_path(ctx).c_str());
  }
  const auto size = static_cast<long>(journal.buffer.size());
  if (os_write_at(journal.file, journal.buffer.data(), size, journal.length) != size)
    return write_failed(ctx);
  journal.length += size;
  journal.buffer.clear();
  return 0;
}

// --- Reading -------------------------------------------------------------

long units_in(long length, long unit) { return (length + unit - 1) / unit; }

// The records of one segment body; false when they do not fill it exactly.
bool parse_records(
    const std::uint8_t* body, std::size_t length, std::vector<JournalRecord>& records) {
  for (std::size_t at = 0; at < length;) {
    if (length - at < RECORD_HEADER) return false;
    JournalRecord record{};
    record.fill = body[at] == RECORD_FILL;
    record.offset = static_cast<long>(get_u64(body + at + 1));
    record.length = static_cast<long>(get_u64(body + at + 9));
    record.unit = static_cast<long>(get_u64(body + at + 17));
    at += RECORD_HEADER;
    if ((body[at - RECORD_HEADER] != RECORD_BYTES && !record.fill) || record.offset < 0 ||
        record.length <= 0 || record.unit <= 0 || record.length > (1L << 30)) {
      return false;
    }
    const std::size_t old = record.fill ? 1 : static_cast<std::size_t>(record.length);
    const std::size_t sums =
        UNIT_SUM * static_cast<std::size_t>(units_in(record.length, record.unit));
    if (length - at < old + sums) return false;
    record.old = body + at;
    record.sums = body + at + old;
    at += old + sums;
    records.push_back(record);
  }
  return true;
}

bool all_zero(const std::vector<std::uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; });
}

}  // namespace

// Sorts a journal's bytes into segments. A header cut short (or never
// written: zeros after a power cut) and a journal without one whole segment
// are torn; a header of another kind, or a segment whose checksum holds but
// whose records do not add up, is untrusted.
JournalState parse_journal(JournalContents& journal) {
  const std::vector<std::uint8_t>& bytes = journal.bytes;
  const bool our_magic = bytes.size() >= JOURNAL_MAGIC.size() &&
                         std::equal(JOURNAL_MAGIC.begin(), JOURNAL_MAGIC.end(), bytes.begin());
  if (bytes.size() < JOURNAL_HEADER || !our_magic ||
      get_u64(bytes.data() + 16) != checksum(bytes.data(), 16)) {
    const std::size_t compared = std::min(bytes.size(), MAGIC_FAMILY);
    const bool cut_short = bytes.size() < JOURNAL_HEADER &&
                           std::equal(bytes.begin(), bytes.begin() + static_cast<long>(compared),
                               JOURNAL_MAGIC.begin());
    return cut_short || all_zero(bytes) ? JournalState::torn : JournalState::untrusted;
  }
  journal.old_length = static_cast<long>(get_u64(bytes.data() + 8));
  for (std::size_t at = JOURNAL_HEADER; bytes.size() - at >= SEGMENT_HEAD + SEGMENT_TAIL;) {
    const std::uint64_t length = get_u64(bytes.data() + at);
    if (length > bytes.size() - at - SEGMENT_HEAD - SEGMENT_TAIL) break;
    const std::size_t body = at + SEGMENT_HEAD;
    const std::size_t tail = body + static_cast<std::size_t>(length);
    if (get_u64(bytes.data() + tail) != checksum(bytes.data() + body, length) ||
        !std::equal(
            SEGMENT_END.begin(), SEGMENT_END.end(), bytes.begin() + static_cast<long>(tail) + 8)) {
      break;  // torn: the run ended while writing it, before it touched the image
    }
    journal.segments.emplace_back();
    if (!parse_records(bytes.data() + body, length, journal.segments.back()))
      return JournalState::untrusted;
    at = tail + SEGMENT_TAIL;
  }
  return journal.segments.empty() ? JournalState::torn : JournalState::rolls_back;
}

// Puts back the old bytes of every segment, the last first (a later commit
// may have changed what an earlier one wrote), then the old length. False
// when a write fails: the journal then stays for the next run.
bool roll_back(const OsFile& image, const JournalContents& journal) {
  std::array<std::uint8_t, 4096> fill_piece{};
  for (std::size_t k = journal.segments.size(); k-- > 0;) {
    for (const JournalRecord& record : journal.segments[k]) {
      if (!record.fill) {
        if (os_write_at(image, record.old, record.length, record.offset) != record.length)
          return false;
        continue;
      }
      fill_piece.fill(record.old[0]);
      for (long done = 0; done < record.length;) {
        const long piece = std::min<long>(record.length - done, fill_piece.size());
        if (os_write_at(image, fill_piece.data(), piece, record.offset + done) != piece)
          return false;
        done += piece;
      }
    }
  }
  if (journal.segments.empty()) return true;
  return os_size(image) <= journal.old_length || os_truncate(image, journal.old_length);
}

bool holds_new_bytes(
    const JournalRecord& record, long unit, const std::uint8_t* bytes, long length) {
  return unit_sum(bytes, length) == get_u32(record.sums + UNIT_SUM * (unit / record.unit));
}

void begin_segment(Context& ctx, long old_length) {
  JournalRun& journal = ctx.journal;
  journal.buffer.clear();
  journal.buffer.reserve(FLUSH_AT + (1 << 16));
  journal.segment_first = !os_is_open(journal.file);
  if (journal.segment_first) {
    journal.length = 0;
    append(journal, JOURNAL_MAGIC.data(), JOURNAL_MAGIC.size(), false);
    append_u64(journal, static_cast<std::uint64_t>(old_length), false);
    append_u64(journal, checksum(journal.buffer.data(), 16), false);
  }
  journal.segment_start = journal.length;
  journal.segment_head = journal.length + static_cast<long>(journal.buffer.size());
  journal.body_length = 0;
  journal.body_sum = NEW_CHECKSUM;
  journal.write_failed = false;
  append_u64(journal, 0, false);  // the body length, set by seal_segment
}

int journal_range(Context& ctx, long offset, const std::uint8_t* old, const std::uint8_t* fresh,
    long length, int unit) {
  if (length <= 0) return 0;
  JournalRun& journal = ctx.journal;
  // All alike exactly when the bytes equal themselves one further on.
  const bool uniform = std::memcmp(old, old + 1, static_cast<std::size_t>(length - 1)) == 0;
  const std::uint8_t kind = uniform ? RECORD_FILL : RECORD_BYTES;
  append(journal, &kind, 1, true);
  append_u64(journal, static_cast<std::uint64_t>(offset), true);
  append_u64(journal, static_cast<std::uint64_t>(length), true);
  append_u64(journal, static_cast<std::uint64_t>(unit), true);
  append(journal, old, uniform ? 1 : static_cast<std::size_t>(length), true);
  // The sums of a chunk's units in one piece: a record holds at most a chunk.
  std::array<std::uint8_t, UNIT_SUM * 2048> sums{};
  std::size_t count = 0;
  for (long at = 0; at < length; at += unit) {
    const std::uint32_t sum = unit_sum(fresh + at, std::min<long>(unit, length - at));
    for (std::size_t i = 0; i < UNIT_SUM; ++i)
      sums[count++] = static_cast<std::uint8_t>(sum >> (8 * i));
    if (count == sums.size()) {
      append(journal, sums.data(), count, true);
      count = 0;
    }
  }
  append(journal, sums.data(), count, true);
  return journal.buffer.size() >= FLUSH_AT ? flush(ctx) : 0;
}

int seal_segment(Context& ctx, bool durable) {
  JournalRun& journal = ctx.journal;
  const U64Bytes length = u64_bytes(journal.body_length);
  if (journal.segment_head >= journal.length) {
    std::copy(length.begin(), length.end(),
        journal.buffer.begin() + (journal.segment_head - journal.length));
  } else if (os_write_at(journal.file, length.data(), 8, journal.segment_head) != 8) {
    return write_failed(ctx);
  }
  append_u64(journal, checksum_value(journal.body_sum), false);
  append(journal, SEGMENT_END.data(), SEGMENT_END.size(), false);
  const int result = flush(ctx);
  if (result != 0) return result;
  if (durable && !os_sync(journal.file)) return write_failed(ctx);
  // The first segment that must survive a power cut makes the name durable too.
  if (durable && !journal.durable) os_sync_directory_of(journal_path(ctx).c_str());
  journal.durable = journal.durable || durable;
  return 0;
}

void discard_segment(Context& ctx) {
  JournalRun& journal = ctx.journal;
  if (journal.segment_first) {
    if (os_is_open(journal.file)) {
      os_close(journal.file);
      remove_file(journal_path(ctx).c_str());
    }
    journal.length = 0;
  } else {
    if (journal.length > journal.segment_start) os_truncate(journal.file, journal.segment_start);
    journal.length = journal.segment_start;
  }
}

void abandon_changes(Context& ctx) {
  JournalRun& journal = ctx.journal;
  ctx.known_fill_from = -1;
  if (os_is_open(journal.file)) {
    JournalContents parsed;
    parsed.bytes.resize(static_cast<std::size_t>(journal.length));
    const bool restored =
        os_read_at(journal.file, parsed.bytes.data(), journal.length, 0) == journal.length &&
        parse_journal(parsed) != JournalState::untrusted && roll_back(ctx.image, parsed) &&
        os_sync(ctx.image);
    os_close(journal.file);
    if (restored) remove_file(journal_path(ctx).c_str());
  }
  journal.length = 0;
  journal.durable = false;
  journal.held_occupied.clear();
}

int finish_journal(Context& ctx) {
  JournalRun& journal = ctx.journal;
  journal.held_occupied.clear();
  if (!os_is_open(journal.file)) return 0;
  if (journal.durable && !os_sync(ctx.image)) {
    const int result = report_error(ERR_WRITE, ctx.image_name);
    abandon_changes(ctx);
    return result;
  }
  const std::string path = journal_path(ctx);
  os_close(journal.file);
  remove_file(path.c_str());
  if (journal.durable) os_sync_directory_of(path.c_str());
  journal.length = 0;
  journal.durable = false;
  return 0;
}

// The rollback journal IMAGE.jnl: before a change in place overwrites a
// byte of the image, the old bytes of every range it overwrites are written
// here, so that a change cut short (a failed write, a kill, a power cut) can
// be taken back. One segment per commit; a run that changes the image several
// times as one (-fl) keeps one journal for all of them. For every unit (a
// directory slot, a sector) a record keeps the old bytes and a checksum of
// the new ones, so that the journal can tell its image by what it holds
// (recovery.h). The file is made where nothing stands, with no more
// permissions than the image.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/context.h"

// Writing the journal of one commit: begin a segment, add the old bytes of
// each range about to change, then seal it before the image is touched.
void begin_segment(Context& ctx, long old_length);
// The `length` old bytes at `offset` and, for each `unit` of them, a
// checksum of the new bytes `fresh` that take their place. 0 or the error.
int journal_range(Context& ctx, long offset, const std::uint8_t* old, const std::uint8_t* fresh,
    long length, int unit);
// Completes the segment in the file, synced first when `durable`.
int seal_segment(Context& ctx, bool durable);
// Takes the segment out again: nothing of it reached the image.
void discard_segment(Context& ctx);

// Takes back every change the run's journal holds, at once; where even that
// fails, the journal stays and the next run that opens the image does it.
void abandon_changes(Context& ctx);
// The run's changes are complete: the image is synced where old data was at
// stake, then the journal goes. 0 or the reported error (changes taken back).
int finish_journal(Context& ctx);

// A journal read back. A record: where, how long, the unit its checksums
// cover, its old bytes (or the one byte they all were) and the checksums.
struct JournalRecord {
  long offset;
  long length;
  long unit;
  bool fill;
  const std::uint8_t* old;
  const std::uint8_t* sums;
};
struct JournalContents {
  std::vector<std::uint8_t> bytes;  // the file; records point into it
  long old_length = 0;              // the image's length before the first change
  std::vector<std::vector<JournalRecord>> segments;
};

// What a journal left beside an image would do.
enum class JournalState {
  none,        // there is none
  torn,        // nothing in it was ever acted on: it can go
  rolls_back,  // it matches the image and would roll it back cleanly
  untrusted,   // a link, another user's file, open to more writers than the image, a bad header
  mismatched,  // its bytes are neither the image's old nor its new ones: not this image's
};

// Sorts `journal.bytes` into segments: torn (a header cut short or never
// written, or no whole segment), untrusted (a header of another kind, or
// records that do not add up), or rolls_back (whole segments found).
JournalState parse_journal(JournalContents& journal);
// Does `bytes` (the `length` bytes of `record` from `unit` on) hold what the
// change put there?
bool holds_new_bytes(
    const JournalRecord& record, long unit, const std::uint8_t* bytes, long length);
// Puts back the old bytes of every segment, the last first, then the old
// length. False when a write fails.
bool roll_back(const OsFile& image, const JournalContents& journal);

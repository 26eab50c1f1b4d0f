// The one way a change reaches an image. Every writing command describes
// what the image shall hold afterwards (a CommitPlan) and hands it to
// commit(), which guarantees:
//
// - Minimal: in place, only the slots and sectors whose bytes differ from
//   what the image holds are written (free areas already filled are left
//   alone); a whole new image (-ic, -ir) is written once, beside the image.
// - All or nothing: before the first byte of the image is overwritten, the
//   old bytes go to a rollback journal IMAGE.jnl; a failed write puts them
//   back at once, and a run killed half-way is rolled back by the next run
//   that opens the image (recover_image). A whole new image is built as
//   IMAGE.new and renamed over the image in one step, so the image path
//   always names a complete image, old or new.
// - Not interrupted: interrupt, terminate, hang-up and broken-pipe signals
//   are held back while the image is being changed.
// - Durable where old data is at stake: when a change overwrites bytes that
//   belonged to stored files or used directory slots, or replaces an image,
//   the journal is synced before the image is touched and the image is
//   synced before the journal goes; a change that only fills free space is
//   not synced, since a power cut can then lose only the new file.
// The image must be open and locked exclusively (open_image, recovery.h).
#pragma once

#include <cstdint>
#include <vector>

#include "cli/context.h"

enum class WriteSource { bytes, fill, image };

// What one range of the image shall hold.
struct CommitWrite {
  long offset;
  long length;
  WriteSource source;
  const std::uint8_t* bytes;  // WriteSource::bytes: the content
  std::uint8_t fill;          // WriteSource::fill: every byte
  long image_offset;          // WriteSource::image: where the content lies now
  int unit;                   // in place: bytes compared and written as one
};

// What becomes of the previous image when a whole new one replaces it.
enum class PreviousImage {
  dropped,         // -ic
  temporary_copy,  // -ir: kept as IMAGE.tmp once the new one is in place (the caller removes it)
  backup,          // kept as IMAGE.bak for good; an existing IMAGE.bak refuses the change
};

struct CommitPlan {
  std::vector<CommitWrite> writes;
  // Ranges that hold stored files or used slots now: overwriting any of
  // them makes the change one that is synced to disk.
  std::vector<ByteRange> occupied;
  // The writes describe a complete new image of `length` bytes, which
  // replaces the image file.
  bool whole_image = false;
  long length = 0;
  // Whole image: what becomes of the previous image.
  PreviousImage previous = PreviousImage::dropped;
};

inline CommitWrite bytes_write(long offset, long length, const std::uint8_t* bytes, int unit) {
  return {offset, length, WriteSource::bytes, bytes, 0, 0, unit};
}
inline CommitWrite fill_write(long offset, long length, std::uint8_t fill) {
  return {offset, length, WriteSource::fill, nullptr, fill, 0, SECTOR_SIZE};
}
inline CommitWrite image_write(long offset, long length, long image_offset) {
  return {offset, length, WriteSource::image, nullptr, 0, image_offset, SECTOR_SIZE};
}

// The commits that follow succeed or fail as one: a failed write, or a
// kill, takes back all of them (-fl). end_changes completes them.
void hold_changes_together(Context& ctx);
int end_changes(Context& ctx);

// Carries out `plan`. 0, or the reported error with the image as it was.
int commit(Context& ctx, const CommitPlan& plan);

// The rollback journal IMAGE.jnl: before a change in place overwrites a
// byte of the image, the old bytes of every range it overwrites are written
// here, so that a change cut short (a failed write, a kill, a power cut) can
// be taken back. One segment per commit; a run that changes the image several
// times as one (-fl) keeps one journal for all of them.
//
// The journal knows its image by what it holds, not by where it lives: for
// every unit (a directory slot, a sector) it keeps the old bytes and a
// checksum of the new ones, and it is applied only to an image whose units
// each hold one of the two. So a copied image, or the same disk under
// another device number, is still rolled back, and another image never is.
// It is named after the file the image's name resolves to, so that every
// spelling of the name finds it, and it is made where nothing stands, with
// no more permissions than the image; one left by another user, a link, or
// a file that others may write who may not write the image is never replayed.
#pragma once

#include <cstdint>

#include "cli/context.h"
#include "cli/modes.h"

// What a journal left beside an image would do.
enum class JournalState {
  none,        // there is none
  torn,        // nothing in it was ever acted on: it can go
  rolls_back,  // it matches the image and would roll it back cleanly
  untrusted,   // a link, another user's file, open to more writers than the image, a bad header
  mismatched,  // its bytes are neither the image's old nor its new ones: not this image's
};

struct JournalReport {
  JournalState state = JournalState::none;
  int segments = 0;  // changes it would take back (rolls_back)
};

// Opens the image (open_image_file: exclusively for a command that changes
// it, shared otherwise) and deals with a change a killed or failed run left
// half-done: a writer rolls it back; so does a reader that may write the
// image, and one that may not is refused (ERR_JOURNAL_NEEDS_WRITE); a
// journal that is not the image's is refused (ERR_JOURNAL_REFUSED).
// OPEN_AS_FOUND leaves such a journal alone (the image check reports it).
// An image already open and locked stays open, so a command that commits
// several times (-fl) holds it throughout. 0 or the reported error.
int open_image(Context& ctx, ImageOpening opening);

// Looks at the journal beside the open image without acting on it.
JournalReport inspect_journal(Context& ctx);

// Acts on a journal a killed or failed run left beside the image, which the
// run holds exclusively: rolls the image back (synced) and removes it, or
// removes one that is torn; refuses an untrusted or mismatched one
// (ERR_JOURNAL_REFUSED). 0 or the reported error.
int recover_image(Context& ctx);

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

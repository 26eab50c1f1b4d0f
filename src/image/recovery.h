// What a run does with a journal it finds beside the image it opens. The
// journal knows its image by what it holds, not by where it lives: it is
// applied only to an image whose slots and sectors each hold the old or the
// new bytes it recorded, so a copied image, or the same disk under another
// device number, is still rolled back, and another image never is. It is
// named after the file the image's name resolves to, so every spelling of
// the name finds it. One that is a link, another user's file, or open to
// writers the image is not open to is never replayed, and neither is any by
// a run that may not write the image.
#pragma once

#include "cli/context.h"
#include "cli/modes.h"
#include "image/journal.h"

// Opens the image (open_image_file: exclusively for a command that changes
// it, shared otherwise) and deals with a change a killed or failed run left
// half-done: a writer rolls it back; so does a reader that may write the
// image, and one that may not is refused (ERR_JOURNAL_NEEDS_WRITE); a
// journal that is not the image's is refused (ERR_JOURNAL_REFUSED).
// OPEN_AS_FOUND leaves such a journal alone (the image check reports it).
// An image already open and locked stays open, so a command that commits
// several times (-fl) holds it throughout. 0 or the reported error.
int open_image(Context& ctx, ImageOpening opening);

struct JournalReport {
  JournalState state = JournalState::none;
  int segments = 0;  // changes it would take back (rolls_back)
};

// Looks at the journal beside the open image without acting on it.
JournalReport inspect_journal(Context& ctx);

// Acts on a journal a killed or failed run left beside the image, which the
// run holds exclusively: rolls the image back (synced) and removes it, or
// removes one that is torn; refuses an untrusted or mismatched one
// (ERR_JOURNAL_REFUSED). 0 or the reported error.
int recover_image(Context& ctx);

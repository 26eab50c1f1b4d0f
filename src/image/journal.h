// The rollback journal IMAGE.jnl: the old bytes of every range a change in
// place overwrites, written before the image is touched, so that a change
// cut short can be taken back.
#pragma once

#include "cli/context.h"

// What a journal left beside an image would do.
enum class JournalState {
  none,        // there is none
  torn,        // nothing in it was ever acted on: it can go
  rolls_back,  // it matches the image and would roll it back cleanly
  untrusted,   // a link, another user's file, more permissive than the image, or a bad header
  mismatched,  // its bytes are neither the image's old nor its new ones: not this image's
};

struct JournalReport {
  JournalState state = JournalState::none;
  int segments = 0;  // changes it would take back (rolls_back)
};

// Looks at the journal of the open image without acting on it.
JournalReport inspect_journal(Context& ctx);

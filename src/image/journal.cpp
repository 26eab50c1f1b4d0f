#include "image/journal.h"

#include "image/file_io.h"

JournalReport inspect_journal(Context& ctx) {
  JournalReport report;
  if (path_exists(journal_name(ctx.image_name).c_str())) report.state = JournalState::torn;
  return report;
}

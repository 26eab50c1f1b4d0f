#include "cli/pager.h"

#include <cstdio>

#include "image/platform.h"

void wait_for_enter() {
  // Only a person at a console can answer; a pipe or a script's input would
  // wait unseen for a line it was never meant to give.
  if (!interactive_console()) return;
  std::fputs("\nPress ENTER ...\n", stdout);
  std::fflush(stdout);
  int c;
  do {
    c = std::getchar();
  } while (c != '\n' && c != EOF);
}

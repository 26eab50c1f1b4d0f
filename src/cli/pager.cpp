#include "cli/pager.h"

#include <cstdio>

void wait_for_enter() {
  std::fputs("\nPress ENTER ...\n", stdout);
  std::fflush(stdout);
  int c;
  do {
    c = std::getchar();
  } while (c != '\n' && c != EOF);
}

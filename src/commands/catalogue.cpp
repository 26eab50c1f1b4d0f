#include <array>
#include <cstdio>

#include "cli/pager.h"
#include "commands/commands.h"
#include "image/directory.h"
#include "names/name81.h"

namespace {

constexpr int ROWS_PER_PAGE = 20;

template <std::size_t N>
void print_field(const std::array<std::uint8_t, N>& field) {
  for (std::uint8_t c : field) std::putchar(is_name_char(c) ? c : ' ');
}

void print_row(int slot, const DirEntry& entry) {
  std::printf("%*d  ", 3, slot + 1);
  std::printf("%c ", is_name_char(entry.type) ? entry.type : ' ');
  print_field(entry.name);
  std::fputs("  ", stdout);
  print_field(entry.long_name);
  const int start = get_u16(entry.start_address);
  const int length = get_u16(entry.length);
  std::printf("  %5d (%04Xh)  %5d (%04Xh)  %c%c\n", start, start, length, length,
      (entry.attributes & ATTR_ALLRAM) ? 'A' : '-', (entry.attributes & ATTR_LIST) ? 'L' : '-');
}

}  // namespace

int show_catalogue(Context& ctx) {
  int result = open_and_load(ctx);
  if (result != 0) return result;

  std::array<int, DIRECTORY_AREA_SIZE / DIR_ENTRY_SIZE> selection{};
  ctx.listed_count = 0;
  for (int slot = 0; slot < ctx.dir_items; ++slot) {
    if (entry_matches(ctx, *entry_at(ctx.directory_area, slot), MATCH_MASK))
      selection[ctx.listed_count++] = slot;
  }

  std::printf("Catalogue of '%s', mask: '%s'\n\n", ctx.image_name, ctx.name.display.data());
  std::printf("Idx  T Name      Long name         Start           Size          AL\n");
  std::printf("-------------------------------------------------------------------\n");
  int files = 0;
  long used_bytes = 0;
  for (int k = 0; k < ctx.listed_count; ++k) {
    if (k > 0 && k % ROWS_PER_PAGE == 0) wait_for_enter();
    const DirEntry& entry = *entry_at(ctx.directory_area, selection[k]);
    print_row(selection[k], entry);
    ++files;
    used_bytes += round_to_sectors(get_u16(entry.length));
  }
  std::printf("\n%g kB in %d file(s), %g kB free", kilobytes(used_bytes), files,
      kilobytes(free_bytes(ctx)));
  return 0;
}

// The image check, part two: the bytes that no file owns (free sectors, the
// tails of last sectors, what lies beyond the image's end), the Loader
// parameter blocks, and the side files beside the image.
#include <algorithm>
#include <cstring>
#include <vector>

#include "cli/errors.h"
#include "image/file_io.h"
#include "image/image_check.h"
#include "image/recovery.h"
#include "loader/loader.h"
#include "loader/loader_layout.h"

namespace {

// Free space is read in pieces of this size: few reads, little memory.
constexpr long PIECE = 1 << 18;

bool all_fill(const std::uint8_t* bytes, long length) {
  static const std::vector<std::uint8_t> fill(SECTOR_SIZE, FREE_SECTOR_FILL);
  for (long at = 0; at < length; at += SECTOR_SIZE) {
    const auto n = static_cast<std::size_t>(std::min<long>(SECTOR_SIZE, length - at));
    if (std::memcmp(bytes + at, fill.data(), n) != 0) return false;
  }
  return true;
}

// Reads [offset, offset + length) piece by piece into `buffer` and hands
// each piece to `visit`, which returns false when it has seen enough.
template <class Visit>
int read_pieces(
    Context& ctx, std::vector<std::uint8_t>& buffer, long offset, long length, Visit visit) {
  buffer.resize(std::max(buffer.size(), static_cast<std::size_t>(std::min(PIECE, length))));
  for (long done = 0; done < length;) {
    const long n = std::min(PIECE, length - done);
    if (os_read_at(ctx.image, buffer.data(), n, offset + done) != n)
      return report_error(ERR_READ, ctx.image_name);
    if (!visit(offset + done, buffer.data(), n)) break;
    done += n;
  }
  return 0;
}

void add_sector_run(ImageCheck& check, long first, long last) {
  check.dirty_sectors += static_cast<int>(last - first + 1);
  add_finding(check, Severity::warning, sector_offset(first),
      first == last ? format_text("sector %ld", first)
                    : format_text("sectors %ld-%ld", first, last),
      "free, but not 0xFF", true);
}

// Every whole sector of the data area in the image file that no file's
// data covers must hold 0xFF; runs of those that do not are findings.
int check_free_sectors(Context& ctx, ImageCheck& check, std::vector<std::uint8_t>& buffer) {
  const long data_start = ctx.boot_sectors + ctx.dir_sectors;
  const long sectors = std::min<long>(ctx.image_size, check.file_length) / SECTOR_SIZE;
  std::vector<bool> covered(static_cast<std::size_t>(std::max(sectors, data_start)), false);
  for (const CheckedFile& file : check.files) {
    const long first = file.offset / SECTOR_SIZE;
    const long end = std::min(sectors, first + file.rounded / SECTOR_SIZE);
    for (long s = std::max(first, data_start); s < end; ++s)
      covered[static_cast<std::size_t>(s)] = true;
  }
  long run = -1;  // first sector of the run of dirty free sectors being read
  for (long s = data_start; s < sectors;) {
    if (covered[static_cast<std::size_t>(s)]) {
      ++s;
      continue;
    }
    long end = s;
    while (end < sectors && !covered[static_cast<std::size_t>(end)]) ++end;
    const int result = read_pieces(ctx, buffer, sector_offset(s), sector_offset(end - s),
        [&](long position, const std::uint8_t* bytes, long n) {
          for (long at = 0; at < n; at += SECTOR_SIZE) {
            const long sector = (position + at) / SECTOR_SIZE;
            const bool dirty = !all_fill(bytes + at, SECTOR_SIZE);
            if (dirty && run < 0) run = sector;
            if (!dirty && run >= 0) {
              add_sector_run(check, run, sector - 1);
              run = -1;
            }
          }
          return true;
        });
    if (result != 0) return result;
    if (run >= 0) add_sector_run(check, run, end - 1);
    run = -1;
    s = end;
  }
  return 0;
}

std::string file_place(const CheckedFile& file) {
  return format_text("slot %d %s", file.slot, shown_name(name_key(file.entry)).c_str());
}

// The bytes of a kept file's last sector after its length must be 0xFF.
int check_tails(Context& ctx, ImageCheck& check) {
  std::array<std::uint8_t, SECTOR_SIZE> tail{};
  for (const CheckedFile& file : check.files) {
    if (file.salvage || file.length == file.rounded) continue;
    const long from = file.offset + file.length;
    const long n = std::min<long>(file.rounded - file.length, check.file_length - from);
    if (n <= 0) continue;
    const int result = read_image_at(ctx, tail.data(), from, static_cast<int>(n));
    if (result != 0) return result;
    if (all_fill(tail.data(), n)) continue;
    ++check.dirty_tails;
    add_finding(check, Severity::warning, slot_offset(ctx, file.slot), file_place(file),
        format_text("bytes %d-127 of its last sector, %ld, are not 0xFF", file.length % SECTOR_SIZE,
            (file.offset + file.rounded) / SECTOR_SIZE - 1),
        true);
  }
  return 0;
}

// Is there a used slot of this name, as an exact name given to a command
// finds it (the entry's name in upper case, its type as it is)?
bool image_holds(const ImageCheck& check, const NameKey& wanted) {
  return std::any_of(check.files.begin(), check.files.end(), [&](const CheckedFile& file) {
    const NameKey name = name_key(file.entry);
    for (std::size_t i = 0; i < 8; ++i) {
      const std::uint8_t c = name[i];
      if ((c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c) != wanted[i]) return false;
    }
    return name[8] == wanted[8];
  });
}

// Files that pass the Loader recognition test must name files the image holds.
int check_loaders(Context& ctx, ImageCheck& check) {
  struct Named {
    const char* what;
    int type;
    int name;
  };
  static constexpr Named NAMED[] = {{"picture", LDR_PIC_TYPE, LDR_PIC_NAME},
      {"code", LDR_CODE_TYPE, LDR_CODE_NAME}, {"monitor", LDR_MON_TYPE, LDR_MON_NAME}};
  std::array<std::uint8_t, LOADER_MIN_SIZE> block{};
  for (const CheckedFile& file : check.files) {
    if (file.salvage || file.length < LOADER_MIN_SIZE || file.entry.attributes != ATTR_LIST)
      continue;
    const int result = read_image_at(ctx, block.data(), file.offset, LOADER_MIN_SIZE);
    if (result != 0) return result;
    if (block[LDR_JUMP_OPCODE] != LOADER_JUMP_OPCODE ||
        block[LDR_JUMP_HIGH] != get_u16(file.entry.start_address) >> 8) {
      continue;
    }
    const bool monitor_file = (block[LDR_FLAGS] & LOADER_MONITOR_MASK) == LOADER_MONITOR_FILE;
    for (const Named& named : NAMED) {
      if (named.type == LDR_MON_TYPE && !monitor_file) continue;
      NameKey wanted{};
      std::copy_n(block.begin() + named.name, 8, wanted.begin());
      wanted[8] = block[static_cast<std::size_t>(named.type)];
      if (image_holds(check, wanted)) continue;
      add_finding(check, Severity::warning, slot_offset(ctx, file.slot), file_place(file),
          format_text("Loader names the %s file %s, which the image does not hold", named.what,
              shown_name(wanted).c_str()),
          false);
    }
  }
  return 0;
}

// Bytes after the last sector of the image are no part of it; 0xFF there
// is fill, anything else may be data.
int check_beyond_end(Context& ctx, ImageCheck& check, std::vector<std::uint8_t>& buffer) {
  if (check.file_length <= ctx.image_size) return 0;
  check.beyond_end = check.file_length - ctx.image_size;
  const int result = read_pieces(
      ctx, buffer, ctx.image_size, check.beyond_end, [&](long, const std::uint8_t* bytes, long n) {
        check.beyond_end_fill = all_fill(bytes, n);
        return check.beyond_end_fill;
      });
  if (result != 0) return result;
  add_finding(check, Severity::warning, ctx.image_size, "image file",
      format_text("%ld bytes beyond the end of the image, %s%s", check.beyond_end,
          check.beyond_end_fill ? "all 0xFF" : "not all 0xFF",
          check.file_length % SECTOR_SIZE != 0 ? "; the file is no whole number of sectors" : ""),
      true);
  return 0;
}

// The side files a change of an image may leave beside it. Their naming
// lives in file_io.h; this is the one place the check looks them up.
struct SideFileNames {
  std::string journal;
  std::vector<std::string> fresh;
  std::string temporary;
};

SideFileNames side_file_names(const Context& ctx) {
  const char* image = ctx.image_path.c_str();
  return {journal_name(image), stale_new_images(image, false), temporary_copy_name(image)};
}

}  // namespace

std::string salvage_folder_name(const char* image) { return std::string(image) + ".salvage"; }

int check_content(Context& ctx, ImageCheck& check) {
  if (!check.header_trusted) return 0;
  std::vector<std::uint8_t> buffer;
  int result = check_free_sectors(ctx, check, buffer);
  if (result == 0) result = check_tails(ctx, check);
  if (result == 0) result = check_loaders(ctx, check);
  if (result == 0) result = check_beyond_end(ctx, check, buffer);
  return result;
}

void check_side_files(Context& ctx, ImageCheck& check) {
  const SideFileNames names = side_file_names(ctx);
  const JournalReport journal = inspect_journal(ctx);
  const auto side = [&](Severity severity, const std::string& name, const char* what,
                        bool mendable) {
    add_finding(check, severity, SIDE_FILE_ORDER, name, what, mendable);
  };
  switch (journal.state) {
    case JournalState::none:
      break;
    case JournalState::torn:
      side(Severity::warning, names.journal,
          "stale journal, never acted on; the next command that opens the image removes it", true);
      check.recovery.push_back(
          format_text("Removed: %s (never acted on)\n", names.journal.c_str()));
      break;
    case JournalState::rolls_back:
      side(Severity::error, names.journal,
          format_text("journal of a change left half-done (%d changes); it rolls back cleanly, "
                      "and the next command that opens the image does so first",
              journal.segments)
              .c_str(),
          true);
      check.recovery.push_back(format_text("Rolled back: %s (%d changes left half-done)\n",
          names.journal.c_str(), journal.segments));
      break;
    case JournalState::untrusted:
      side(Severity::error, names.journal,
          "journal that cannot be trusted (a link, another user's file, one open to more writers "
          "than the image, or no journal); every command refuses the image: remove it if the "
          "image is as it should be",
          false);
      break;
    case JournalState::mismatched:
      side(Severity::error, names.journal,
          "journal of other bytes than the image holds; every command refuses the image: move it "
          "away if the image was restored or copied since",
          false);
      break;
  }
  for (const std::string& fresh : names.fresh) {
    side(Severity::warning, fresh,
        "new image of an -ic or -ir that was cut short; the next -ic, -ir or -iv -fix removes it",
        true);
    check.recovery.push_back(format_text("Removed: %s (stale)\n", fresh.c_str()));
  }
  if (!path_exists(names.temporary.c_str())) return;
  if (same_identity(identity_of_path(names.temporary.c_str()), ctx.image_identity)) {
    side(Severity::warning, names.temporary,
        "second name of the image, left by an -ir that was cut short; the next command that "
        "opens the image removes it",
        true);
    check.recovery.push_back(format_text("Removed: %s (stale)\n", names.temporary.c_str()));
  } else {
    side(Severity::warning, names.temporary,
        "the previous image, left by an -ir that was cut short; remove it once the image is right",
        false);
  }
}

// The image check, part one: the header and the image file's length, the
// directory slots, the names, and where each file's data lies.
#include <algorithm>
#include <map>
#include <set>

#include "image/directory.h"
#include "image/file_io.h"
#include "image/image_check.h"
#include "names/complex_name.h"
#include "names/name81.h"

namespace {

// Sizes the tool's own commands give an image.
constexpr int SIZE_STEP = 32 * 1024;

bool refused_in_name(std::uint8_t c) { return c == '.' || c == '*' || c == '?'; }
bool lower_case(std::uint8_t c) { return c >= 'a' && c <= 'z'; }

std::string range_text(const char* one, const char* many, long first, long last) {
  return first == last ? format_text("%s %ld", one, first)
                       : format_text("%s %ld-%ld", many, first, last);
}

std::string file_place(const CheckedFile& file) {
  return format_text("slot %d %s", file.slot, shown_name(name_key(file.entry)).c_str());
}

long file_order(const Context& ctx, const CheckedFile& file) { return slot_offset(ctx, file.slot); }

int first_sector(const CheckedFile& file) { return get_u16(file.entry.first_sector); }
int end_sector(const CheckedFile& file) { return first_sector(file) + file.rounded / SECTOR_SIZE; }

// The header and the length of the image file against it. Leaves
// header_trusted false when the geometry cannot be used.
int check_header(Context& ctx, ImageCheck& check) {
  const long length = image_file_length(ctx);
  if (length < 0) return static_cast<int>(length);
  check.file_length = length;
  if (length < IMAGE_HEADER_SIZE) {
    add_finding(check, Severity::error, 0, "header",
        format_text("the image file is %ld bytes long, too short for a header", length), false);
    return 0;
  }
  const int result = read_image_at(ctx, ctx.boot_area, 0, IMAGE_HEADER_SIZE);
  if (result != 0) return result;
  const std::uint8_t* header = ctx.boot_area;
  if (!std::equal(BOOT_SIGNATURE.begin(), BOOT_SIGNATURE.end(), header) ||
      header[HDR_JUMP_OPCODE] != JUMP_OPCODE) {
    add_finding(check, Severity::error, 0, "header",
        "no VEM boot signature (CD 00 8C 10 00 at byte 0, C3 at byte 9)", false);
    return 0;
  }
  const int boot_sectors = header[HDR_BOOT_SECTORS];
  const int dir_sectors = header[HDR_DIR_SECTORS];
  const int last_sector = get_u16(header + HDR_LAST_SECTOR);
  if (!geometry_plausible(boot_sectors, dir_sectors, last_sector)) {
    add_finding(check, Severity::error, 0, "header",
        format_text("geometry out of range: %d boot sectors, %d directory sectors, last sector %d",
            boot_sectors, dir_sectors, last_sector),
        false);
    return 0;
  }
  set_geometry(
      ctx, boot_sectors, dir_sectors * ENTRIES_PER_SECTOR, (last_sector + 1) * SECTOR_SIZE);
  if (ctx.image_size % SIZE_STEP != 0) {
    add_finding(check, Severity::warning, 0, "header",
        format_text("image size %g kB is not one the tool makes (32 to 8192 kB in steps of 32 kB)",
            kilobytes(ctx.image_size)),
        false);
  }
  if (dir_sectors == 0)
    add_finding(check, Severity::warning, 0, "header", "the directory has no slots", false);
  if (length < ctx.boot_size) {
    // The boot code is lost: nothing to rebuild the image from.
    add_finding(check, Severity::error, 0, "image file",
        format_text("the image file is %ld bytes long and ends inside the boot area (%d bytes)",
            length, ctx.boot_size),
        false);
    return 0;
  }
  if (length < ctx.image_size) {
    add_finding(check, Severity::error, 0, "image file",
        format_text(
            "the image file is %ld bytes long, %ld bytes short of its geometry (%d bytes)%s",
            length, ctx.image_size - length, ctx.image_size,
            length % SECTOR_SIZE != 0 ? "; it ends inside a sector" : ""),
        true);
  }
  check.header_trusted = true;
  return 0;
}

enum class SlotKind { used, free, dirty_free, foreign };

SlotKind slot_kind(const DirEntry& entry) {
  if (entry_in_use(entry)) return SlotKind::used;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&entry);
  if (bytes[0] != EMPTY_ENTRY_FILL) return SlotKind::foreign;
  const bool clean = std::all_of(
      bytes, bytes + DIR_ENTRY_SIZE, [](std::uint8_t b) { return b == EMPTY_ENTRY_FILL; });
  return clean ? SlotKind::free : SlotKind::dirty_free;
}

// A run of free slots that do not hold the free-slot fill.
void add_slot_run(Context& ctx, ImageCheck& check, SlotKind kind, int first, int last) {
  if (kind != SlotKind::dirty_free && kind != SlotKind::foreign) return;
  check.dirty_slots += last - first + 1;
  add_finding(check, Severity::warning, slot_offset(ctx, first),
      range_text("slot", "slots", first, last),
      kind == SlotKind::dirty_free ? "free, but not wholly 0xE5"
                                   : "neither used nor 0xE5 (read as free)",
      true);
}

int check_directory(Context& ctx, ImageCheck& check) {
  const long available = std::max(0L, check.file_length - slot_offset(ctx, 0));
  const int present = static_cast<int>(std::min<long>(ctx.dir_items, available / DIR_ENTRY_SIZE));
  if (present > 0) {
    const int result =
        read_image_at(ctx, ctx.directory_area, slot_offset(ctx, 0), present * DIR_ENTRY_SIZE);
    if (result != 0) return result;
  }
  if (present < ctx.dir_items) {
    add_finding(check, Severity::error, slot_offset(ctx, present),
        range_text("slot", "slots", present, ctx.dir_items - 1), "beyond the end of the image file",
        true);
  }
  int first_free = -1;
  SlotKind run_kind = SlotKind::used;
  int run_start = 0;
  for (int slot = 0; slot < present; ++slot) {
    const DirEntry& entry = *entry_at(ctx.directory_area, slot);
    const SlotKind kind = slot_kind(entry);
    if (kind != run_kind) {
      add_slot_run(ctx, check, run_kind, run_start, slot - 1);
      run_kind = kind;
      run_start = slot;
    }
    if (kind != SlotKind::used) {
      if (first_free < 0) first_free = slot;
      continue;
    }
    CheckedFile file;
    file.slot = slot;
    file.entry = entry;
    file.name = name_key(entry);
    file.offset = sector_offset(get_u16(entry.first_sector));
    file.length = get_u16(entry.length);
    file.rounded = round_to_sectors(file.length);
    file.present = std::clamp(check.file_length - file.offset, 0L, static_cast<long>(file.length));
    if (first_free >= 0 && !check.unpacked) {
      check.unpacked = true;
      add_finding(check, Severity::warning, slot_offset(ctx, slot), file_place(file),
          format_text("used, after the free slot %d (used slots do not come first)", first_free),
          true);
    }
    check.files.push_back(file);
  }
  add_slot_run(ctx, check, run_kind, run_start, present - 1);
  return 0;
}

NameKey canonical_name(const NameKey& name) {
  NameKey canonical = name;
  for (std::size_t i = 0; i < canonical.size(); ++i) {
    std::uint8_t& c = canonical[i];
    if (lower_case(c)) c = static_cast<std::uint8_t>(c - 'a' + 'A');
    if (i < 8 && refused_in_name(c)) c = '_';
  }
  return canonical;
}

// The name with the lowest number in place of its last characters that no
// other file takes.
NameKey unique_variant(const NameKey& name, const std::set<NameKey>& taken) {
  int length = 8;
  while (length > 1 && name[static_cast<std::size_t>(length - 1)] == ' ') --length;
  for (int number = 1;; ++number) {
    const std::string digits = std::to_string(number);
    const int kept = std::min(length, 8 - static_cast<int>(digits.size()));
    NameKey candidate = name;
    std::fill(candidate.begin() + kept, candidate.begin() + 8, ' ');
    std::copy(digits.begin(), digits.end(), candidate.begin() + kept);
    if (taken.count(candidate) == 0) return candidate;
  }
}

// Names the rules refuse or the tool never writes, and names the tool's
// matching cannot tell apart; the names a repair gives the files: each name
// as the rules write it, a number in place of its last characters for every
// file after the first of a name.
void check_names(Context& ctx, ImageCheck& check) {
  std::map<NameKey, std::size_t> first_of;
  for (std::size_t i = 0; i < check.files.size(); ++i)
    first_of.emplace(canonical_name(check.files[i].name), i);
  std::set<NameKey> taken;
  for (const auto& [name, index] : first_of) taken.insert(name);
  for (std::size_t i = 0; i < check.files.size(); ++i) {
    CheckedFile& file = check.files[i];
    const NameKey found = file.name;
    const long order = file_order(ctx, file);
    if (std::any_of(found.begin(), found.begin() + 8, refused_in_name)) {
      add_finding(check, Severity::error, order, file_place(file),
          "its name holds a character no name may hold ('.', '*' or '?')", true);
    }
    if (std::any_of(found.begin(), found.end(), lower_case)) {
      add_finding(
          check, Severity::warning, order, file_place(file), "name not in upper case", true);
    }
    const NameKey canonical = canonical_name(found);
    const std::size_t first = first_of[canonical];
    if (first == i) {
      file.name = canonical;
    } else {
      add_finding(check, Severity::error, order, file_place(file),
          format_text("same name as slot %d", check.files[first].slot), true);
      file.name = unique_variant(canonical, taken);
      taken.insert(file.name);
    }
    file.renamed = file.name != found;
  }
}

bool overlapping(const CheckedFile& a, const CheckedFile& b) {
  return a.rounded > 0 && b.rounded > 0 && first_sector(a) < end_sector(b) &&
         first_sector(b) < end_sector(a);
}

// Files outside the data area, past the image or cut by the end of the
// file, and files that share sectors: none of them can be kept whole, and
// keeping either of two overlapping files would be a guess.
void check_placement(Context& ctx, ImageCheck& check) {
  const int data_start = ctx.boot_sectors + ctx.dir_sectors;
  const int sectors = ctx.image_size / SECTOR_SIZE;
  for (CheckedFile& file : check.files) {
    if (file.rounded == 0) continue;
    std::string what;
    if (first_sector(file) < data_start) {
      what = format_text("its data begins at sector %d, inside the %s (data begins at sector %d)",
          first_sector(file), first_sector(file) < ctx.boot_sectors ? "boot area" : "directory",
          data_start);
    } else if (end_sector(file) > sectors) {
      what = format_text("its data (%s) runs past the last sector of the image, %d",
          range_text("sector", "sectors", first_sector(file), end_sector(file) - 1).c_str(),
          sectors - 1);
    } else if (file.present < file.length) {
      what =
          format_text("only %ld of its %d bytes are in the image file", file.present, file.length);
    }
    if (what.empty()) continue;
    file.salvage = true;
    add_finding(check, Severity::error, file_order(ctx, file), file_place(file), what, true);
  }
  for (CheckedFile& file : check.files) {
    const auto other =
        std::find_if(check.files.begin(), check.files.end(), [&](const CheckedFile& candidate) {
          return &candidate != &file && overlapping(file, candidate);
        });
    if (other == check.files.end()) continue;
    file.salvage = true;
    const long from = std::max(first_sector(file), first_sector(*other));
    const long to = std::min(end_sector(file), end_sector(*other)) - 1;
    add_finding(check, Severity::error, file_order(ctx, file), file_place(file),
        format_text("overlaps %s (%s)", file_place(*other).c_str(),
            range_text("sector", "sectors", from, to).c_str()),
        true);
  }
  long expected = data_start;
  for (const CheckedFile& file : check.files) {
    if (first_sector(file) != expected) {
      check.unpacked = true;
      add_finding(check, Severity::warning, file_order(ctx, file), file_place(file),
          format_text("at sector %d, where files packed in slot order would put it at sector %ld",
              first_sector(file), expected),
          true);
      break;
    }
    expected += file.rounded / SECTOR_SIZE;
  }
}

}  // namespace

void add_finding(ImageCheck& check, Severity severity, long order, std::string where,
    std::string what, bool mendable) {
  check.findings.push_back({severity, order, std::move(where), std::move(what), mendable});
}

int count_findings(const ImageCheck& check, Severity severity) {
  return static_cast<int>(std::count_if(check.findings.begin(), check.findings.end(),
      [&](const Finding& finding) { return finding.severity == severity; }));
}

bool needs_repair(const ImageCheck& check) {
  return std::any_of(check.findings.begin(), check.findings.end(),
      [](const Finding& finding) { return finding.mendable && finding.order != SIDE_FILE_ORDER; });
}

NameKey name_key(const DirEntry& entry) {
  NameKey key{};
  std::copy(entry.name.begin(), entry.name.end(), key.begin());
  key[8] = entry.type;
  return key;
}

std::string shown_name(const NameKey& name) {
  DirEntry entry{};
  std::copy(name.begin(), name.begin() + 8, entry.name.begin());
  entry.type = name[8];
  DisplayName display{};
  build_file_name(entry, display.data(), DISPLAY_FORM);
  std::string shown;
  for (const char* c = display.data(); *c != '\0'; ++c) {
    const auto byte = static_cast<unsigned char>(*c);
    shown += byte < 0x20 || byte > 0x7E ? format_text("#%02X", byte) : std::string(1, *c);
  }
  return shown;
}

int check_layout(Context& ctx, ImageCheck& check) {
  int result = check_header(ctx, check);
  if (result != 0 || !check.header_trusted) return result;
  result = check_directory(ctx, check);
  if (result != 0) return result;
  check_names(ctx, check);
  check_placement(ctx, check);
  return 0;
}

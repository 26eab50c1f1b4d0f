// The image check and repair (-iv, -iv -fix): every problem of an image,
// found in one pass over its bytes, and what a repair does with each.
//
// Severity: an error puts a file's data or the directory at risk, or makes
// them wrong; a warning is the format's hygiene, nothing lost. A finding is
// mendable when a repair fixes it; the others stay (an untrusted header, a
// geometry outside the tool's limits, a Loader naming a missing file, an
// earlier image left as IMAGE.tmp).
#pragma once

#include <array>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/context.h"

enum class Severity { warning, error };

// The order of findings about the side files beside the image: after it.
constexpr long SIDE_FILE_ORDER = LONG_MAX;

struct Finding {
  Severity severity;
  long order;  // the image offset it concerns: findings print in image order
  std::string where;
  std::string what;
  bool mendable;
};

// 8 name bytes, then the type byte.
using NameKey = std::array<std::uint8_t, 9>;

// A used slot: what the check learnt of it and what a repair makes of it.
struct CheckedFile {
  int slot = 0;
  DirEntry entry{};  // as found
  NameKey name{};    // as a repair stores it (renamed when `renamed`)
  bool renamed = false;
  long offset = 0;  // of its data in the image
  int length = 0;
  int rounded = 0;       // whole sectors, in bytes
  long present = 0;      // bytes of its data that the image file holds
  bool salvage = false;  // cannot be kept whole: written out as a host file
};

struct ImageCheck {
  std::vector<Finding> findings;
  std::vector<CheckedFile> files;  // in slot order
  bool header_trusted = false;     // the geometry is in ctx and can be used
  long file_length = 0;
  long beyond_end = 0;          // bytes after the image's last sector
  bool beyond_end_fill = true;  // ... all 0xFF
  int dirty_slots = 0;          // free slots not wholly 0xE5
  int dirty_sectors = 0;        // free sectors not 0xFF
  int dirty_tails = 0;          // files whose last sector's tail is not 0xFF
  bool unpacked = false;        // used slots or files not packed in slot order
  // What recover_image does with the side files found (lines -fix prints).
  std::vector<std::string> recovery;
};

void add_finding(ImageCheck& check, Severity severity, long order, std::string where,
    std::string what, bool mendable);
int count_findings(const ImageCheck& check, Severity severity);
// Does a repair of the image (beyond the side files) have anything to do?
bool needs_repair(const ImageCheck& check);

// Text by a fixed printf format.
template <class... Values>
std::string format_text(const char* format, Values... values) {
  const int length = std::snprintf(nullptr, 0, format, values...);
  std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
  std::snprintf(text.data(), text.size() + 1, format, values...);
  return text;
}

// NAME.T for a finding, with bytes that are no printable ASCII as #HH.
std::string shown_name(const NameKey& name);
NameKey name_key(const DirEntry& entry);

// Header, length, directory and the placement of every file, and the names
// a repair gives the files (check_layout.cpp). 0 or the reported read error.
int check_layout(Context& ctx, ImageCheck& check);
// The bytes: free sectors, the tails of last sectors, Loader parameter
// blocks, what lies beyond the end (check_content.cpp). 0 or a read error.
int check_content(Context& ctx, ImageCheck& check);
// The side files beside the open image, left as they are; notes what
// recover_image will do with them.
void check_side_files(Context& ctx, ImageCheck& check);
// The salvage folder beside an image.
std::string salvage_folder_name(const char* image);

// Rebuilds the image from what `check` found: kept files packed in slot
// order under their repaired names, the others written into the salvage
// folder, the previous image kept as IMAGE.bak. Prints every change once it
// is done. 0 or the reported error, with the image as it was.
int repair_image(Context& ctx, const ImageCheck& check);

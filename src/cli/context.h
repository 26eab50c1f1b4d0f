// The one record of a run: parsed options, the open image, work buffers,
// geometry and the in-memory entry list.
#pragma once

#include <array>
#include <vector>

#include "image/image_format.h"
#include "image/platform.h"

constexpr int PATH_FIELD_SIZE = 256;  // 255 characters and the terminator
constexpr int LONG_NAME_LENGTH = 16;

using PathField = std::array<char, PATH_FIELD_SIZE>;

// One parsed 8.1 name or mask.
struct NameSlot {
  std::array<char, 13> display;  // NAME.T as shown to the user
  std::array<char, 13> padded;   // 8 name bytes, type byte, terminator
};

inline bool slot_given(const NameSlot& slot) { return slot.display[0] != '\0'; }

// How a change reaches the image: only the bytes that differ, under a
// rollback journal (the tool), or everything rewritten in place (a reference
// build that tests compare the tool with).
enum class CommitMode { minimal, full_rewrite };

struct Context {
  const char* image_name;
  OsFile image;
  std::uint8_t* boot_area;
  std::uint8_t* directory_area;
  std::uint8_t* work_buffer;
  PathField boot_file;  // -ib, or the default Booter beside the program
  int boot_file_given;  // 1: boot_file came from -ib
  EntryNode* entries_first;
  EntryNode* entries_last;
  EntryNode* entries_cursor;
  // The command: one flag per row of the command table (options.cpp).
  int cmd_ic;
  int cmd_ir;
  int cmd_ii;
  int cmd_c;
  int cmd_fa;
  int cmd_fc;
  int cmd_fl;
  int cmd_fr;
  int cmd_fp;
  int cmd_fd;
  int cmd_fx;
  int opt_cfn;
  int cmd_ml;
  int cmd_li;
  int cmd_iv;
  int opt_fix;         // -iv -fix: repair what the check finds
  int image_size_opt;  // -is in bytes, -1: not given
  // Geometry of the open image; set_geometry sets the paired fields together.
  int image_size;
  int boot_size;
  int boot_sectors;
  int dir_sectors;
  int dir_items_opt;  // -id, -1: not given
  int dir_items;
  int used_entries;  // slots in use
  int listed_count;  // rows the catalogue lists
  int used_sectors;  // up to the end of the highest used sector, boot area and directory included
  PathField source_path;       // the host file of -fa -fc -fl -fr
  PathField target_directory;  // -fx: where extracted files go ("./" when none is given)
  std::array<char, LONG_NAME_LENGTH + 1> long_name;
  NameSlot name;      // the file or mask a command works on
  NameSlot new_name;  // -fn; -fr's stored file; -ml's code file
  NameSlot picture_name;
  NameSlot monitor_name;
  PathField list_path;  // -cfnl
  int start_address;    // -sa, -1: not given
  int monitor;          // Loader flags of -mon (monitor and No Init), -1: not given
  int opt_scs;
  int opt_al;
  int opt_ar;
  int opt_ow;
  int opt_psc;

  // Implementation state beyond the options and geometry.
  const char* program_path;    // argument 0, as invoked
  EntryNode exhausted_marker;  // its address marks an exhausted search
  CommitMode commit_mode;
  bool image_locked_exclusive;  // the lock held on `image`
  FileIdentity image_identity;  // which file `image` is
  long image_length;            // length of the open image file, -1 unknown
  // From this offset to image_size the image is known to hold free-sector
  // fill (learnt while the image stays open and locked); -1: nothing known.
  long known_fill_from;
  // The rollback journal of the changes of this run not yet finished: the
  // file (open from the first change to the end of the run's changes), its
  // length, the bytes on their way to it, whether any change must be synced,
  // and whether it is kept across commits (-fl changes succeed or fail as one).
  OsFile journal_file;
  long journal_length;
  std::vector<std::uint8_t> journal_buffer;
  bool journal_durable;
  bool keep_journal;
  std::vector<std::uint8_t> commit_buffer;  // reused by every commit of the run
};

inline EntryNode* cursor_exhausted(Context& ctx) { return &ctx.exhausted_marker; }

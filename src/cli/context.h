// The one record of a run: parsed options, the open image, work buffers,
// geometry and the in-memory entry list.
#pragma once

#include <array>
#include <cstdint>
#include <string>
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

// A checksum fed piece by piece: the hash of the whole 8-byte words so far
// and the bytes of the word begun.
struct RunningChecksum {
  std::uint64_t hash;
  std::array<std::uint8_t, 8> carry;
  std::size_t carried;
};

// The rollback journal of this run's changes not yet finished, and the
// segment of the commit being written into it.
struct JournalRun {
  OsFile file;                       // open from the first change to the end of the run's changes
  long length;                       // bytes in the file
  std::vector<std::uint8_t> buffer;  // bytes on their way to it
  bool durable;                      // a change in it overwrote old data: sync before it goes
  bool held;                         // the changes of several commits succeed or fail as one (-fl)
  // Held changes: what the image held before the first of them. Overwriting
  // any of it puts old data at stake, however free it is now.
  std::vector<ByteRange> held_occupied;
  // The segment being written.
  bool segment_first;  // it begins the file
  long segment_start;  // where it begins in the file
  long segment_head;   // where its body length goes
  std::uint64_t body_length;
  RunningChecksum body_sum;
  bool write_failed;
};

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
  const char* program_path;     // argument 0, as invoked
  EntryNode exhausted_marker;   // its address marks an exhausted search
  std::string image_path;       // the file image_name resolves to; side files go beside it
  bool image_locked_exclusive;  // the lock held on `image`
  FileIdentity image_identity;  // which file `image` is
  FileStatus image_status;      // its permissions and owner when opened
  long image_length;            // length of the open image file, -1 unknown
  // From this offset to image_size the image is known to hold free-sector
  // fill (learnt while the image stays open and locked); -1: nothing known.
  long known_fill_from;
  JournalRun journal;
  std::vector<std::uint8_t> commit_buffer;  // reused by every commit of the run
};

inline EntryNode* cursor_exhausted(Context& ctx) { return &ctx.exhausted_marker; }

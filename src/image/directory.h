// The directory model: the geometry read from the header, the in-memory
// entry list (one EntryNode per used slot, then the files a command adds)
// and the packing of the directory and data area that a change commits.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/context.h"
#include "cli/modes.h"
#include "image/commit.h"

// A header is trusted only as far as the fixed buffers and the image reach:
// a boot area of 1 to 192 sectors, at most 64 directory sectors, both
// inside the image.
bool geometry_plausible(int boot_sectors, int dir_sectors, int last_sector);

// Reads the header into the start of ctx.boot_area, checks the signature and
// that the geometry fits the buffers and the image, sets the geometry fields,
// reads the directory into ctx.directory_area and builds the entry list (in
// slot order, with used_entries and used_sectors). 0, or the reported error
// (ERR_INVALID_BOOT, or a read error of the image); the list is then partial.
int load_directory(Context& ctx);

// open_image (OPEN_EXISTING), then load_directory: how every command on an
// existing image starts. 0 or the reported error.
int open_and_load(Context& ctx);

// Appends a node for `entry` (which stays in ctx.directory_area) to the
// list, with slot -1 and its data where the entry says. 0 or ERR_OUT_OF_MEMORY.
int append_node(Context& ctx, DirEntry* entry);

// Gives `node` its own copy of rounded_length bytes, from the image at
// data_offset or from ctx.work_buffer; replaces a copy it had. A file of
// length 0 gets none and nothing is read. 0 or the reported error.
int load_node_data(Context& ctx, EntryNode* node, DataSourceKind source);

// Gives every kept node its packed place behind the directory, in list
// order (first_sector, data_offset), and checks before anything is written
// that the files fit the directory (ERR_DIRECTORY_FULL), the data area and
// 16-bit sector numbers (ERR_DISK_FULL), and that the image holds their
// data. With LOAD_MOVED_UP it loads the data of every file that moves
// towards the end of the image (a change in place copies the files that move
// towards its start within the image). Writes nothing; may be called again.
// 0 or the reported error.
int place_entries(Context& ctx, MovedData moved);

// Adds to `plan` what the directory and data area hold once packed: the
// directory bytes (built into `directory`, which must outlive the plan), the
// data of every node that holds it in memory or, with ALL_DATA, of every
// node, copied from the image where it is not in memory, and free sectors
// up to image_size. The nodes must be placed.
void plan_packed_layout(
    Context& ctx, CommitPlan& plan, std::vector<std::uint8_t>& directory, LayoutData data);

// Places the entries (loading what moves) and commits the packed directory
// and data area: only what differs is written. 0 or the reported error.
int write_back(Context& ctx);

// Releases every node and its data; the list and the cursor are empty after.
void free_entry_list(Context& ctx);

// The next node, from the cursor on, whose entry matches ctx.name (exactly
// or as a mask); moves the cursor past it. None when no node is left; the
// cursor then stays where it was, or stays exhausted.
EntryNode* next_matching_node(Context& ctx, MatchMode mode);

// The first free slot of ctx.directory_area, or none when all are used.
DirEntry* find_free_slot(Context& ctx);

// Offset at which the kept files end when packed from `first_data_offset`.
long packed_end(const Context& ctx, long first_data_offset);

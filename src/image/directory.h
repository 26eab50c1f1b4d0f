// The directory model: geometry, the in-memory entry list and the commit
// that rewrites the directory and data area of an image.
#pragma once

#include <cstdint>
#include <vector>

#include "cli/context.h"
#include "image/commit.h"

// Checks the boot signature in ctx.boot_area; ERR_INVALID_BOOT reported
// without a name for an image, with ctx.boot_file for a Booter file.
int check_boot(Context& ctx, int from_image);

// Reads the header, checks it, sets the geometry and builds the entry list.
int load_directory(Context& ctx);

// How every command on an existing image starts: open_image, load_directory.
int open_and_load(Context& ctx);

int append_node(Context& ctx, DirEntry* entry);
int load_node_data(Context& ctx, EntryNode* node, int from_work_buffer);

// Gives every kept node its packed place behind the directory (in list
// order: first_sector and data_offset) and checks, before anything is
// written, that the files fit the directory (ERR_DIRECTORY_FULL), the data
// area and 16-bit sector numbers (ERR_DISK_FULL), and that the image holds
// their data. With `load_moving` it loads the data of every file that moves
// (of every file in the full-rewrite reference mode), so no write can
// overwrite data still to be moved. Writes nothing; may be called again.
int place_entries(Context& ctx, int load_moving);

// What the directory and data area hold once packed: the directory bytes
// (built into `directory`, which must outlive the plan), the data of every
// node that holds it in memory or, with `from_image`, of every node from
// where it lies in the image, and free sectors up to image_size.
void plan_packed_layout(Context& ctx, CommitPlan& plan, std::vector<std::uint8_t>& directory, bool from_image);

// Places the entries (place_entries with loading) and commits the packed
// directory and data area: only what differs is written. 0 or the error.
int write_back(Context& ctx);

void free_entry_list(Context& ctx);
EntryNode* next_matching_node(Context& ctx, int mask_mode);
DirEntry* find_free_slot(Context& ctx);

// Bytes the non-deleted files take when packed behind boot area and directory.
long packed_end(const Context& ctx, long first_data_offset);

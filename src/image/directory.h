// The directory model: geometry, the in-memory entry list and the commit
// that rewrites the directory and data area of an image.
#pragma once

#include <cstdio>

#include "cli/context.h"

// Checks the boot signature in ctx.boot_area; ERR_INVALID_BOOT reported
// without a name for an image, with ctx.boot_file for a Booter file.
int check_boot(Context& ctx, int from_image);

// Reads the header, checks it, sets the geometry and builds the entry list.
int load_directory(Context& ctx);

// How every command on an existing image starts: open_image, load_directory.
int open_and_load(Context& ctx);

int append_node(Context& ctx, DirEntry* entry);
int load_node_data(Context& ctx, EntryNode* node, int from_work_buffer);

// Where write_back takes the data of nodes that hold none in memory: the
// old image while -ir writes a new one. Without it such nodes keep their
// place in the image and are not rewritten.
struct DataSource {
  std::FILE* file;
  const char* name;
};

// Rewrites the directory from slot 0 and the data area packed in list
// order, fills the rest and flushes. With `load_all_first` it first loads
// every file that has to move, so no write can overwrite data still to be
// moved; a file already at its packed place is neither read nor written.
// Refuses with ERR_DISK_FULL, before writing anything, when the packed files
// would not fit the image.
int write_back(Context& ctx, int load_all_first, const DataSource* source = nullptr);

void free_entry_list(Context& ctx);
EntryNode* next_matching_node(Context& ctx, int mask_mode);
DirEntry* find_free_slot(Context& ctx);

// Bytes the non-deleted files take when packed behind boot area and directory.
long packed_end(const Context& ctx, long first_data_offset);

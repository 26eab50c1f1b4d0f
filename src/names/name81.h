// VEM 8.1 names and masks, host-path splitting and directory-entry matching.
#pragma once

#include <string>

#include "cli/context.h"

// True for bytes 0x21..0x7E; the rule that tells used directory slots.
bool is_name_char(int c);
bool entry_in_use(const DirEntry& entry);

// Parses `text` into `slot`. Without wildcards the name must be exact: no
// `?`/`*`, a type, and a first name character and type that a used entry can
// hold. 0, ERR_INVALID_NAME or ERR_AMBIGUOUS_NAME (reported with `option`).
int parse_name81(const char* text, const char* option, int wildcards, NameSlot& slot);
// Can a used directory slot hold this exact name (first character and type)?
bool name_storable(const NameSlot& slot);
int set_main_name(Context& ctx, const char* text, const char* option, int wildcards);

// Splits a host path into `dest` (whole path, or directory part only) and,
// with `derive`, parses an 8.1 name made from its file part into ctx.name.
int parse_host_path(Context& ctx, PathField& dest, const char* text, const char* option,
                    int wildcards, int whole_path, int derive);

// The 8.1 name text made from the file part of a host path (cut to eight
// characters and one type character); empty when it has no name.
std::string derived_name_text(const char* path);

// Puts the 8.1 form of `slot` into the name and type of a directory entry.
void store_name(DirEntry& entry, const NameSlot& slot);

// Does `entry` match ctx.name (as a mask when mask_mode is set)?
bool entry_matches(const Context& ctx, const DirEntry& entry, int mask_mode);

// Position of the directory separator of a host path: the last '/', or the
// last '\' when there is none (on Windows the last of either); -1 when
// neither occurs.
int host_separator(const char* path);

// Copies `text` into a path field; false (nothing copied) when it is too long.
bool copy_path(PathField& dest, const char* text);

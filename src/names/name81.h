// VEM 8.1 names and masks, and the matching of directory entries by them.
#pragma once

#include "cli/context.h"
#include "cli/modes.h"
#include "names/host_path.h"  // host-path helpers, for files that still take them from here

// True for bytes 0x21..0x7E; the rule that tells used directory slots.
bool is_name_char(int c);
// True when the entry's type and first name byte are name characters.
bool entry_in_use(const DirEntry& entry);

// Parses `text` into `slot`. Without wildcards the name must be exact: no
// `?`/`*`, a type, and a first name character and type that a used entry can
// hold. 0, ERR_INVALID_NAME or ERR_AMBIGUOUS_NAME (reported with `option`);
// `slot` changes only on success.
int parse_name81(const char* text, const char* option, Wildcards wildcards, NameSlot& slot);
// parse_name81 into ctx.name.
int set_main_name(Context& ctx, const char* text, const char* option, Wildcards wildcards);
// parse_name81 into ctx.name of a name derived from a host file name, which
// -fn, -fr, -fc or -fl may replace: whether a slot can hold it is left to
// name_storable, asked once the command line is read.
int parse_derived_name(Context& ctx, const char* text, const char* option, Wildcards wildcards);
// Can a used directory slot hold this exact name (first character and type)?
bool name_storable(const NameSlot& slot);

// Puts the 8.1 form of `slot` into the name and type of a directory entry.
void store_name(DirEntry& entry, const NameSlot& slot);
// Puts ctx.long_name (16 characters, blank padded) into a directory entry.
void store_long_name(DirEntry& entry, const Context& ctx);

// Does `entry` (in use) match ctx.name? `mask_mode` is a MatchMode.
bool entry_matches(const Context& ctx, const DirEntry& entry, int mask_mode);

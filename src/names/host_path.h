// Host paths: where their directory part ends, bounded copies into path
// fields, and the parsing of the path arguments of the file commands.
#pragma once

#include <string>

#include "cli/context.h"
#include "cli/modes.h"
#include "image/platform.h"

// CURRENT_DIR_PREFIX, this host's current-directory prefix, is the
// platform layer's.

// Position of the directory separator of a host path: the last '/', or the
// last '\' when there is none (on Windows the last of either, or else the
// colon of a drive prefix X:); -1 when there is none.
int host_separator(const char* path);

// Copies `text` into a path field; false (nothing copied) when it is too long.
bool copy_path(PathField& dest, const char* text);

// Stores the whole path or its directory part (./ when it has none) in
// `dest` and, with DERIVE_NAME, sets ctx.name from the 8.1 form of its file
// part. 0, or ERR_INVALID_NAME / ERR_AMBIGUOUS_NAME reported with `option`.
int parse_host_path(Context& ctx, PathField& dest, const char* text, const char* option,
    Wildcards wildcards, PathKept kept, NameFromPath derive);

// The 8.1 name text made from the file part of a host path (cut to eight
// characters and one type character); empty when it has no name.
std::string derived_name_text(const char* path);

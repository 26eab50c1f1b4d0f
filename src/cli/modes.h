// Names for the two-way choices that functions take as arguments, so that a
// call says what it asks for. Each is an int-based enum, so calls read the
// same whether the parameter is the enum or a plain int.
#pragma once

// next_matching_node, entry_matches: the name must match exactly, or as a mask.
enum MatchMode : int { MATCH_EXACT = 0, MATCH_MASK = 1 };

// parse_name81, set_main_name, parse_host_path: may the name hold wildcards?
enum Wildcards : int { NO_WILDCARDS = 0, WILDCARDS_ALLOWED = 1 };

// parse_host_path: keep the whole path, or its directory part only.
enum PathKept : int { DIRECTORY_PART = 0, WHOLE_PATH = 1 };

// parse_host_path: also derive the 8.1 name in ctx.name from the file part?
enum NameFromPath : int { PATH_ONLY = 0, DERIVE_NAME = 1 };

// build_file_name: the display name NAME.T, or the complex file name.
enum NameForm : int { DISPLAY_FORM = 0, COMPLEX_FORM = 1 };

// open_image: open the existing image, create it anew, or open the existing
// image as it is, without acting on a change left half-done beside it (the
// image check reports it; read-only for a command that only reads).
enum ImageOpening : int { OPEN_EXISTING = 0, RECREATE = 1, OPEN_AS_FOUND = 2 };

// load_node_data: read the data from the image, or take it from the work buffer.
enum DataSourceKind : int { DATA_FROM_IMAGE = 0, DATA_FROM_WORK_BUFFER = 1 };

// place_entries: leave the data of files that move in the image (-ir copies
// it from there), or first load every file that moves towards the end of the
// image (a commit in place copies files that move down within the image).
enum MovedData : int { MOVED_DATA_IN_IMAGE = 0, LOAD_MOVED_UP = 1 };

// plan_packed_layout: the data of files held in memory and of files that move,
// or of every file (a whole new image); what is not in memory is copied from
// the image.
enum LayoutData : int { CHANGED_DATA = 0, ALL_DATA = 1 };

// check_boot: the Booter code comes from a Booter file, or from an image.
enum BootOrigin : int { BOOT_FROM_FILE = 0, BOOT_FROM_IMAGE = 1 };

// prepare_boot: check the Booter's minimum length (a file just read) or not.
enum BootLength : int { LENGTH_KNOWN_GOOD = 0, CHECK_MIN_LENGTH = 1 };

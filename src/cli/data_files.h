// Where the tool finds its data files: the default Booter, the Loader
// template and the unpack routine.
#pragma once

#include <string>

#include "cli/context.h"

constexpr const char* DEFAULT_BOOT_FILE = "vem-boot.bin";  // also the usage text's default
constexpr const char* LOADER_TEMPLATE_FILE = "vem-ldr.bin";
constexpr const char* UNPACK_ROUTINE_FILE = "unpckpsc.bin";

// Looks `file_name` up on its own and puts into `out` the first path of
// these that exists:
//   1. beside a Booter named with -ib;
//   2. in the directory of the program path as invoked, which is the current
//      directory for a program found through PATH;
//   3. in the running executable's own directory;
//   4. in the installed data directory, taken relative to the executable so
//      that a moved install still finds it.
// When none exists, the path of the first place, so that the failure to read
// it names the place users are told about. 0, or ERR_OPEN_READ reported with
// that path when it does not fit a path field.
int find_data_file(const Context& ctx, const char* file_name, PathField& out);

// Where the running executable lies, empty when it cannot be told: the
// directory the system names (with its final separator), else `program`
// (argument 0) resolved, through the directories of PATH when it has no
// directory part.
std::string executable_path(const char* program);

// The first regular, executable file named `program` in the directories of
// `search_path` (a PATH value; an empty entry is the current directory);
// empty when there is none.
std::string find_in_search_path(const char* program, const char* search_path);

// The tool as the tests' reference: every change rewrites the directory,
// all data and all free space in place, with no journal, so its images can
// be compared byte for byte with those of the minimal commit.
#include "cli/entry.h"

int main(int argc, char** argv) { return run_vemtool(argc, argv, CommitMode::full_rewrite); }

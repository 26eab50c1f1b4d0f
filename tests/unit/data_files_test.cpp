#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <string>

#include "cli/data_files.h"
#include "image/platform.h"

// The fallback where the system does not tell the executable's path: only a
// file that can run counts, and only in the listed directories.
TEST(FindInSearchPath, TakesTheFirstFileThatCanRun) {
  char pattern[] = "/tmp/vemtool-unit-XXXXXX";
  ASSERT_NE(::mkdtemp(pattern), nullptr);
  const std::string root = pattern;
  for (const char* dir : {"/plain", "/exec", "/dir", "/dir/tool"})
    ::mkdir((root + dir).c_str(), 0755);
  for (const char* file : {"/plain/tool", "/exec/tool"})
    std::ofstream(root + file) << "#!/bin/sh\n";
  ::chmod((root + "/exec/tool").c_str(), 0755);
  const std::string skipped = root + "/plain:" + root + "/dir:" + root + "/missing";
  EXPECT_EQ(
      find_in_search_path("tool", (skipped + ":" + root + "/exec").c_str()), root + "/exec/tool");
  EXPECT_EQ(find_in_search_path("tool", skipped.c_str()), "");
  EXPECT_EQ(find_in_search_path("tool", nullptr), "");
  EXPECT_EQ(find_in_search_path("", (root + "/exec").c_str()), "");
  std::system(("rm -rf '" + root + "'").c_str());
}

// A file that may be removed is, whatever an earlier call left in errno.
TEST(RemoveFile, ReadsNoStaleError) {
  const std::string path = ::testing::TempDir() + "vemtool-unit-removed";
  std::ofstream(path) << "x";
  errno = EACCES;
  EXPECT_EQ(remove_file(path.c_str()), RemoveOutcome::removed);
}

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "cli/data_files.h"

// The fallback where the system does not tell the executable's path.
class FindInSearchPath : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/vemtool-unit-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    for (const char* dir : {"/plain", "/exec", "/dir", "/dir/tool"})
      ::mkdir((root_ + dir).c_str(), 0755);
    for (const char* file : {"/plain/tool", "/exec/tool"})
      std::ofstream(root_ + file) << "#!/bin/sh\n";
    ::chmod((root_ + "/exec/tool").c_str(), 0755);
  }
  void TearDown() override { std::system(("rm -rf '" + root_ + "'").c_str()); }
  std::string list(std::initializer_list<const char*> dirs) const {
    std::string text;
    for (const char* dir : dirs) text += (text.empty() ? "" : ":") + root_ + dir;
    return text;
  }
  std::string root_;
};

TEST_F(FindInSearchPath, SkipsFilesThatCannotRunAndDirectories) {
  EXPECT_EQ(
      find_in_search_path("tool", list({"/plain", "/dir", "/exec"}).c_str()), root_ + "/exec/tool");
}

TEST_F(FindInSearchPath, FindsNothingOutsideTheList) {
  EXPECT_EQ(find_in_search_path("tool", list({"/plain", "/missing"}).c_str()), "");
  EXPECT_EQ(find_in_search_path("tool", nullptr), "");
  EXPECT_EQ(find_in_search_path("", list({"/exec"}).c_str()), "");
}

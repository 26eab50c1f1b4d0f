// Faults found by trying the tool as a new user would: each test is named
// after the fault it guards against.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "harness.h"

using ReviewTest = E2eTest;

TEST_F(ReviewTest, EmptyFileAtTheEndOfAFullImageBlocksNoLaterChange) {
  create_image("img.vem", 32, 4, 128);  // capacity 32768 - 128 - 128 bytes
  for (const char* name : {"empty.bin", "none.bin"}) write_file(name, "");
  write_file("big.bin", pattern_bytes(32512, 1));
  write_file("big2.bin", pattern_bytes(32512, 2));
  for (const Args& args : std::vector<Args>{{"-fa", "big.bin"}, {"-fa", "empty.bin"},
           {"-fa", "none.bin"}, {"-fr", "BIG.B", "big2.bin"}, {"-ir", "-is", "64"}}) {
    SCOPED_TRACE(args[1]);
    const RunResult result = run(Args{"img.vem"} + args);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  ASSERT_EQ(run({"img.vem", "-fx", "big.b"}).status, 0);
  expect_bytes(read_file("BIG.B"), pattern_bytes(32512, 2), Layout::plain);
}

TEST_F(ReviewTest, ChosenNameReplacesAHostNameThatCannotBeStored) {
  create_image("img.vem");
  const std::string host = "./\xC3\xA9t\xC3\xA9.bin";
  write_file(host, "data");
  expect_run(run({"img.vem", "-fa", host}), "",
      "Invalid file name/mask '\xC3\xA9t\xC3\xA9.b' in option `-fa`", 22);
  EXPECT_EQ(run({"img.vem", "-fa", host, "-fn", "ETE.B"}).status, 0);
  const RunResult replaced = run({"img.vem", "-fr", "ETE.B", host});
  EXPECT_EQ(replaced.err, "");
  EXPECT_EQ(replaced.status, 0);
}

TEST_F(ReviewTest, ListFileNeverOverwritesAnExtractedFile) {
  create_image("img.vem");
  write_file("a.b", "stored");
  ASSERT_EQ(run({"img.vem", "-fa", "a.b"}).status, 0);
  expect_run(run({"img.vem", "-fx", "./*", "-cfnl", "./A.B"}),
      "Extracting files by mask: ????????\nTarget path: ./\nList file: ./A.B\n\n"
      "Extracting file: A.B\n",
      "Can't open file './A.B' for writing!", 12);
  EXPECT_EQ(read_file("A.B"), "");
}

TEST_F(ReviewTest, HostFileThatMeasuresZeroIsReadToItsEnd) {
  std::ifstream in("/proc/version");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  create_image("img.vem");
  ASSERT_EQ(::symlink("/proc/version", path("ver.t").c_str()), 0);
  expect_run(run({"img.vem", "-fa", "./ver.t"}),
      "Adding file: VER.T\nSource file: ./ver.t\n" + add_report("", int(text.size())) + "\n", "",
      0);
  ASSERT_EQ(run({"img.vem", "-fx", "ver.t"}).status, 0);
  EXPECT_EQ(read_file("VER.T"), text);
}

TEST_F(ReviewTest, ReconfigureKeepsTheImagesPermissionsAndOwner) {
  create_image("img.vem");
  ::chmod(path("img.vem").c_str(), 0600);
  give_to_nobody("img.vem");
  struct stat before {};
  struct stat after {};
  ASSERT_EQ(::stat(path("img.vem").c_str(), &before), 0);
  ASSERT_EQ(run({"img.vem", "-ir", "-id", "64"}).status, 0);
  ASSERT_EQ(::stat(path("img.vem").c_str(), &after), 0);
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
}

TEST_F(ReviewTest, ClosedOutputPipeEndsAReadingRunQuietly) {
  create_image("img.vem");
  RunOptions closed;
  closed.closed_stdout = true;
  const RunResult result = run({"img.vem", "-c"}, closed);
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 128 + SIGPIPE);
}

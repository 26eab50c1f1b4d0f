// Faults found by trying the tool as a new user would: each test is named
// after the fault it guards against.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "harness.h"

namespace {

std::string add_report(const std::string& name, const std::string& source, int size) {
  return "Adding file: " + name + "\nSource file: " + source +
         "\nLong name: " + std::string(16, ' ') + "\nSize: " + std::to_string(size) + " bytes (" +
         std::to_string((size + 127) / 128) + " sectors)\nStart: 0\nAttributes: None\n";
}

}  // namespace

using ReviewTest = E2eTest;

TEST_F(ReviewTest, EmptyFileAtTheEndOfAFullImageBlocksNoLaterChange) {
  create_image("img.vem", 32, 4, 128);  // capacity 32768 - 128 - 128 bytes
  const int capacity = 32512;
  write_file("big.bin", pattern_bytes(capacity, 1));
  write_file("big2.bin", pattern_bytes(capacity, 2));
  write_file("empty.bin", "");
  write_file("none.bin", "");
  ASSERT_EQ(run({"img.vem", "-fa", "big.bin"}).status, 0);
  ASSERT_EQ(run({"img.vem", "-fa", "empty.bin"}).status, 0);
  for (const Args& args :
      std::vector<Args>{{"-fa", "none.bin"}, {"-fr", "BIG.B", "big2.bin"}, {"-ir", "-is", "64"}}) {
    SCOPED_TRACE(args[0]);
    const RunResult result = run(Args{"img.vem"} + args);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  ASSERT_EQ(run({"img.vem", "-fx", "big.b"}).status, 0);
  expect_bytes(read_file("BIG.B"), pattern_bytes(capacity, 2));
}

TEST_F(ReviewTest, EmptyFileIntoAFullLargestImageIsStoredWithoutSector) {
  RawImage image{1, 33, 65535, {}, {}};  // 132 items; 127 files of 65535 bytes, one to sector 65535
  int sector = 34;
  for (int i = 0; i < 128; ++i) {
    const int length = i < 127 ? 65535 : (65536 - sector) * 128;
    image.slots.push_back({i, raw_entry('B', "F" + std::to_string(i), sector, 0, length)});
    sector += (length + 127) / 128;
  }
  ASSERT_EQ(sector, 65536);
  Bytes expected = build_raw_image(image);
  write_file("img.vem", expected);
  write_file("empty.bin", "");
  expect_run(run({"img.vem", "-fa", "empty.bin"}), add_report("EMPTY.B", "./empty.bin", 0), "", 0);
  // Sector 65536 does not fit 16 bits: the text's arithmetic stores 0, unused.
  expected.replace(128 + 128 * 32, 32, raw_entry('B', "EMPTY", 0, 0, 0));
  expect_bytes(read_file("img.vem"), expected);
}

TEST_F(ReviewTest, ChosenNameReplacesAHostNameThatCannotBeStored) {
  create_image("img.vem");
  write_file("\xC3\xA9t\xC3\xA9.bin", "data");
  expect_run(run({"img.vem", "-fa", "./\xC3\xA9t\xC3\xA9.bin"}), "",
      "Invalid file name/mask '\xC3\xA9t\xC3\xA9.b' in option `-fa`", 22);
  EXPECT_EQ(run({"img.vem", "-fa", "./\xC3\xA9t\xC3\xA9.bin", "-fn", "ETE.B"}).status, 0);
  const RunResult replaced = run({"img.vem", "-fr", "ETE.B", "./\xC3\xA9t\xC3\xA9.bin"});
  EXPECT_EQ(replaced.err, "");
  EXPECT_EQ(replaced.status, 0);
}

TEST_F(ReviewTest, ListFileNeverOverwritesAnExtractedFile) {
  create_image("img.vem");
  write_file("a.b", "stored");
  ASSERT_EQ(run({"img.vem", "-fa", "a.b"}).status, 0);
  expect_run(run({"img.vem", "-fx", "./*", "-cfnl", "./A.B"}),
      "Extracting files by mask: ????????\nTarget path: ./\nList file: ./A.B\n\nExtracting file: "
      "A.B\n",
      "Can't open file './A.B' for writing!", 12);
  EXPECT_EQ(read_file("A.B"), "");
}

TEST_F(ReviewTest, HostFileThatMeasuresZeroIsReadToItsEnd) {
  std::ifstream in("/proc/version");
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(text.empty());
  create_image("img.vem");
  ASSERT_EQ(::symlink("/proc/version", path("ver.t").c_str()), 0);
  expect_run(
      run({"img.vem", "-fa", "./ver.t"}), add_report("VER.T", "./ver.t", int(text.size())), "", 0);
  ASSERT_EQ(run({"img.vem", "-fx", "ver.t"}).status, 0);
  EXPECT_EQ(read_file("VER.T"), text);
}

TEST_F(ReviewTest, ReconfigureKeepsTheImagesPermissionsAndOwner) {
  create_image("img.vem");
  ::chmod(path("img.vem").c_str(), 0600);
  give_to_nobody("img.vem");
  struct stat before {};
  ASSERT_EQ(::stat(path("img.vem").c_str(), &before), 0);
  ASSERT_EQ(run({"img.vem", "-ir", "-id", "64"}).status, 0);
  struct stat after {};
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
  EXPECT_EQ(result.status, 128 + SIGPIPE);
  EXPECT_EQ(result.err, "");
}

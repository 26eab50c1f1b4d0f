// Every limit of the image layout exactly at its bound, and one past it with
// the message that names the failure; the pager's page of 20 rows.
#include "harness.h"

namespace {

// Zero-length files Fn.B in slots 0..count-1 of a 32 kB image.
Bytes empty_files(int count, int dir_sectors) {
  RawImage image{1, dir_sectors, 255, {}, {}};
  for (int i = 0; i < count; ++i)
    image.slots.push_back({i, raw_entry('B', "F" + std::to_string(i + 1), 1 + dir_sectors, 0, 0)});
  return build_raw_image(image);
}

// An 8192 kB image whose files end `free_sectors` before its last sector:
// files of 65535 bytes as long as they fit, then one that takes up the rest.
Bytes full_largest(int free_sectors) {
  RawImage image{1, 64, 65535, {}, {}};
  int sector = 65, slot = 0;
  for (; 65536 - free_sectors - sector >= 512; sector += 512, ++slot)
    image.slots.push_back({slot, raw_entry('B', "F" + std::to_string(slot), sector, 0, 65535)});
  image.slots.push_back(
      {slot, raw_entry('B', "REST", sector, 0, (65536 - free_sectors - sector) * 128)});
  return build_raw_image(image);
}

Bytes no_capacity() { return build_raw_image({192, 64, 255, {}, {}, 24576}); }

// `image` with `entry` in `slot` and `data` from `sector` on.
Bytes with(Bytes image, int slot, const Bytes& entry, int sector = 0, const Bytes& data = "") {
  image.replace(128 * (image[12] & 0xFF) + 32 * slot, 32, entry);
  return image.replace(static_cast<std::size_t>(sector) * 128, data.size(), data);
}

// `expected` null: the image stays as it was.
struct LayoutCase {
  const char* name;
  Bytes (*image)();
  Args args;
  std::string err;
  int status;
  Bytes (*expected)() = nullptr;
};
PARAM_FIXTURE(LayoutBoundTest, E2eTest, LayoutCase);

TEST_P(LayoutBoundTest, FitsAtTheBoundRefusesPast) {
  const LayoutCase& c = GetParam();
  write_file("empty.bin", "");
  write_file("one.bin", "1");
  write_file("largest.bin", pattern_bytes(65535));
  write_file("boot.bin", make_booter(24576));
  write_file("long.bin", make_booter(24577));
  const Bytes before = c.image();
  write_file("img.vem", before);
  const RunResult result = run(Args{"img.vem"} + c.args);
  EXPECT_EQ(result.err, c.err.empty() ? "" : err_line(c.err));
  EXPECT_EQ(result.status, c.status);
  expect_bytes(read_file("img.vem"), c.expected ? c.expected() : before);
}

const Args ADD_EMPTY = {"-fa", "empty.bin", "-fn", "LAST.B"}, ADD_LARGEST = {"-fa", "largest.bin"};
const std::string FULL = "Disk full!";
INSTANTIATE_TEST_SUITE_P(Limits, LayoutBoundTest,
    ::testing::Values(
        LayoutCase{"LastDirectorySlot", [] { return empty_files(255, 64); }, ADD_EMPTY, "", 0,
            [] { return with(empty_files(255, 64), 255, raw_entry('B', "LAST", 65, 0, 0)); }},
        LayoutCase{
            "DirectoryFull", [] { return empty_files(256, 64); }, ADD_EMPTY, "Directory full!", 26},
        LayoutCase{"CapacityZeroTakesEmptyFile", no_capacity, ADD_EMPTY, "", 0,
            [] { return with(no_capacity(), 0, raw_entry('B', "LAST", 256, 0, 0)); }},
        LayoutCase{"CapacityZeroRefusesAByte", no_capacity, {"-fa", "one.bin"}, FULL, 27},
        LayoutCase{"LargestBooter",
            [] {
              return build_raw_image({1, 64, 255, {}, {}});
            },
            {"-ir", "-ib", "boot.bin", "-is", "32", "-id", "256"}, "", 0, no_capacity},
        LayoutCase{"BooterOneByteTooLong", no_capacity, {"-ir", "-ib", "long.bin"},
            "Source file 'long.bin' is too long! Max length 24576 bytes.", 9},
        LayoutCase{"LargestFileInLastSectors", [] { return full_largest(512); }, ADD_LARGEST, "", 0,
            [] {
              return with(full_largest(512), 127, raw_entry('B', "LARGEST", 65024, 0, 65535), 65024,
                  pattern_bytes(65535));
            }},
        LayoutCase{
            "LargestFileOneSectorShort", [] { return full_largest(511); }, ADD_LARGEST, FULL, 27},
        LayoutCase{
            "ByteAfterTheLastSector", [] { return full_largest(0); }, {"-fa", "one.bin"}, FULL, 27},
        // Sector 65536 does not fit 16 bits: the arithmetic stores 0, unused.
        LayoutCase{"EmptyFileIntoFullLargestImage", [] { return full_largest(0); },
            {"-fa", "empty.bin"}, "", 0,
            [] { return with(full_largest(0), 128, raw_entry('B', "EMPTY", 0, 0, 0)); }}),
    CaseName());

// At a terminal the catalogue waits for ENTER after every 20 rows, found by
// the row numbers, and not after the last; in a script the rows go straight
// through a pipe, and the script's own input is left for it.
using PagerTest = E2eTest;
TEST_F(PagerTest, CataloguePausesAfterEvery20RowsAtATerminalOnly) {
  for (const auto& [files, pauses] : {std::pair<int, std::vector<int>>{20, {}}, {41, {20, 40}}}) {
    write_file("img.vem", empty_files(files, 16));
    const RunResult result = run({"img.vem", "-c"}, at_terminal("\n\n\n"));
    ASSERT_EQ(result.status, 0);
    std::vector<int> paused_after;
    for (std::size_t at = 0; (at = result.out.find("\nPress ENTER ...\n", at)) != std::string::npos;
         ++at) {
      const std::size_t row = result.out.rfind("\n", at - 2) + 1;  // the row before the blank line
      paused_after.push_back(std::stoi(result.out.substr(row, 3)));
    }
    EXPECT_EQ(paused_after, pauses);
    EXPECT_NE(result.out.find(" F" + std::to_string(files) + " "), std::string::npos);
  }
  RunOptions script = in_shell();
  script.input = "line one\nline two\n";
  const RunResult piped = run({"-c", "\"$0\" img.vem -c | cat; cat", VEMTOOL_BINARY}, script);
  EXPECT_EQ(piped.out.find("Press ENTER"), std::string::npos);
  EXPECT_NE(piped.out.find(" F41 "), std::string::npos);
  EXPECT_EQ(piped.out.substr(piped.out.size() - 18), "line one\nline two\n");
}

}  // namespace

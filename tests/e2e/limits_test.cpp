// Every limit of the tool exactly at its bound, and one past it with the
// message that names the failure.
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

struct OptionCase {
  const char* name;
  Args args;        // after the image name
  std::string err;  // empty: the run succeeds
  int status;
};
PARAM_FIXTURE(OptionBoundTest, E2eTest, OptionCase);

const std::string DIR(249, 'd');  // DIR + "/e.bin" is 255 characters

TEST_P(OptionBoundTest, AcceptsTheBoundRefusesOnePast) {
  const OptionCase& c = GetParam();
  make_dir(DIR);
  write_file(DIR + "/e.bin", "");
  write_file("boot.bin", make_booter(100));
  write_file("e.bin", "");
  write_file("img.vem", empty_files(0, 8));
  const RunResult result = run(Args{"img.vem"} + c.args);
  EXPECT_EQ(result.err, c.err.empty() ? "" : err_line(c.err));
  EXPECT_EQ(result.status, c.status);
}

const Args ADD = {"-fa", "e.bin", "-ow"}, CREATE = {"-ic", "-ib", "boot.bin"};
const std::string BAD = "Bad option value: ";
INSTANTIATE_TEST_SUITE_P(Limits, OptionBoundTest,
    ::testing::Values(OptionCase{"SizeSmallest", CREATE + Args{"-is", "32"}, "", 0},
        OptionCase{"SizeLargest", CREATE + Args{"-is", "8192"}, "", 0},
        OptionCase{"SizeZero", CREATE + Args{"-is", "0"}, BAD + "-is 0", 16},
        OptionCase{"SizePastLargest", CREATE + Args{"-is", "8224"}, BAD + "-is 8224", 16},
        OptionCase{"SizeNotAStep", CREATE + Args{"-is", "8191"}, BAD + "-is 8191", 16},
        OptionCase{"ItemsSmallest", CREATE + Args{"-id", "4"}, "", 0},
        OptionCase{"ItemsLargest", CREATE + Args{"-id", "256"}, "", 0},
        OptionCase{"ItemsZero", CREATE + Args{"-id", "0"}, BAD + "-id 0", 16},
        OptionCase{"ItemsPastLargest", CREATE + Args{"-id", "260"}, BAD + "-id 260", 16},
        OptionCase{"StartZero", ADD + Args{"-sa", "0"}, "", 0},
        OptionCase{"StartLargest", ADD + Args{"-sa", "65535"}, "", 0},
        OptionCase{"StartPastLargest", ADD + Args{"-sa", "65536"},
            "Value 65536 is out of range <0, 65535>: -sa", 15},
        OptionCase{"NameOfEight", ADD + Args{"-fn", "ABCDEFGH.B"}, "", 0},
        OptionCase{"NameOfNine", ADD + Args{"-fn", "ABCDEFGHI.B"},
            "Invalid file name/mask 'ABCDEFGHI.B' in option `-fn`", 22},
        OptionCase{"LongNameOf16", ADD + Args{"-ln", "0123456789ABCDEF"}, "", 0},
        OptionCase{"LongNameOf17", ADD + Args{"-ln", "0123456789ABCDEFG"},
            "Long name can have up to 16 chars!", 17},
        OptionCase{"PathOf255", {"-fa", DIR + "/e.bin", "-ow"}, "", 0},
        OptionCase{"PathOf256", {"-fa", DIR + "d/e.bin", "-ow"},
            "Invalid file name/mask '" + DIR + "d/e.bin' in option `-fa`", 22}),
    CaseName());

// `expected` null: the image stays as it was. `out` null: standard output unchecked.
struct LayoutCase {
  const char* name;
  Bytes (*image)();
  Args args;
  std::string err;
  int status;
  Bytes (*expected)() = nullptr;
  const char* out = nullptr;
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
  EXPECT_EQ(result.out, c.out != nullptr ? out_with_banner(c.out) : result.out);
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
        // 192 boot and 64 directory sectors leave 512 sectors in 96 kB.
        LayoutCase{"LargestFileFillsSmallImage",
            [] {
              return build_raw_image({192, 64, 767, {}, {}, 24576});
            },
            ADD_LARGEST, "", 0,
            [] {
              return with(build_raw_image({192, 64, 767, {}, {}, 24576}), 0,
                  raw_entry('B', "LARGEST", 256, 0, 65535), 256, pattern_bytes(65535));
            }},
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
            [] { return with(full_largest(0), 128, raw_entry('B', "EMPTY", 0, 0, 0)); },
            "Adding file: EMPTY.B\nSource file: ./empty.bin\nLong name:                 \n"
            "Size: 0 bytes (0 sectors)\nStart: 0\nAttributes: None\n"}),
    CaseName());

// Rows after which the catalogue waits for ENTER, found by the row numbers.
struct PagerCase {
  const char* name;
  int files;
  std::vector<int> paused_after;
};
PARAM_FIXTURE(PagerTest, E2eTest, PagerCase);

TEST_P(PagerTest, CataloguePausesAfterEvery20Rows) {
  const PagerCase& c = GetParam();
  write_file("img.vem", empty_files(c.files, 16));
  const RunResult result = run({"img.vem", "-c"}, at_terminal("\n\n\n"));
  ASSERT_EQ(result.status, 0);
  std::vector<int> paused_after;
  for (std::size_t at = 0; (at = result.out.find("\nPress ENTER ...\n", at)) != std::string::npos;
       ++at) {
    const std::size_t row = result.out.rfind("\n", at - 2) + 1;  // the row before the blank line
    paused_after.push_back(std::stoi(result.out.substr(row, 3)));
  }
  EXPECT_EQ(paused_after, c.paused_after);
  EXPECT_NE(result.out.find(" F" + std::to_string(c.files) + " "), std::string::npos);
  // In a script the rows go straight through a pipe, and the script's own
  // input is left for it.
  RunOptions script = with_input("line one\nline two\n");
  script.binary = "/bin/sh";
  script.argv0 = "sh";
  const RunResult piped = run({"-c", "\"$0\" img.vem -c | cat; cat", VEMTOOL_BINARY}, script);
  EXPECT_EQ(piped.out.find("Press ENTER"), std::string::npos);
  EXPECT_EQ(piped.out.substr(piped.out.size() - 18), "line one\nline two\n");
}

INSTANTIATE_TEST_SUITE_P(Limits, PagerTest,
    ::testing::Values(PagerCase{"TwentyRows", 20, {}}, PagerCase{"TwentyOneRows", 21, {20}},
        PagerCase{"FortyOneRows", 41, {20, 40}}),
    CaseName());

}  // namespace

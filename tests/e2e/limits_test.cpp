// Every limit of the tool exactly at its bound, and one past it with the
// message that names the failure.
#include "harness.h"

using LimitsTest = E2eTest;

namespace {

struct BoundCase {
  const char* name;
  Args args;        // after the image name
  std::string err;  // empty: the run succeeds
  int status;
};

// Zero-length files NAMEn.B in slots 0..count-1 of a 32 kB image.
Bytes image_with_empty_files(int count, int dir_sectors) {
  RawImage image{1, dir_sectors, 255, {}, {}};
  for (int i = 0; i < count; ++i) {
    image.slots.push_back({i, raw_entry('B', "F" + std::to_string(i + 1), 1 + dir_sectors, 0, 0)});
  }
  return build_raw_image(image);
}

// An 8192 kB image whose files end `free_sectors` before its last sector:
// 126 files of 65535 bytes and one that takes up the rest.
Bytes full_largest_image(int free_sectors) {
  RawImage image{1, 64, 65535, {}, {}};
  int sector = 65;
  for (int i = 0; i < 126; ++i) {
    image.slots.push_back({i, raw_entry('B', "F" + std::to_string(i), sector, 0, 65535)});
    sector += 512;
  }
  const int rest = 65536 - sector - free_sectors;
  image.slots.push_back({126, raw_entry('B', "REST", sector, 0, rest * 128)});
  return build_raw_image(image);
}

}  // namespace

TEST_F(LimitsTest, OptionValuesAtAndPastTheirBounds) {
  const std::string dir(249, 'd');  // dir + "/e.bin" is 255 characters
  make_dir(dir);
  write_file(dir + "/e.bin", "");
  write_file("boot.bin", make_booter(100));
  write_file("e.bin", "");
  const Args add = {"-fa", "e.bin", "-ow"};
  const Args create = {"-ic", "-ib", "boot.bin"};
  for (const BoundCase& c :
      std::vector<BoundCase>{{"SizeSmallest", create + Args{"-is", "32"}, "", 0},
          {"SizeLargest", create + Args{"-is", "8192"}, "", 0},
          {"SizeZero", create + Args{"-is", "0"}, "Bad option value: -is 0", 16},
          {"SizePastLargest", create + Args{"-is", "8224"}, "Bad option value: -is 8224", 16},
          {"SizeNotAStep", create + Args{"-is", "8191"}, "Bad option value: -is 8191", 16},
          {"ItemsSmallest", create + Args{"-id", "4"}, "", 0},
          {"ItemsLargest", create + Args{"-id", "256"}, "", 0},
          {"ItemsZero", create + Args{"-id", "0"}, "Bad option value: -id 0", 16},
          {"ItemsPastLargest", create + Args{"-id", "260"}, "Bad option value: -id 260", 16},
          {"StartZero", add + Args{"-sa", "0"}, "", 0},
          {"StartLargest", add + Args{"-sa", "65535"}, "", 0},
          {"StartPastLargest", add + Args{"-sa", "65536"},
              "Value 65536 is out of range <0, 65535>: -sa", 15},
          {"NameOfEight", add + Args{"-fn", "ABCDEFGH.B"}, "", 0},
          {"NameOfNine", add + Args{"-fn", "ABCDEFGHI.B"},
              "Invalid file name/mask 'ABCDEFGHI.B' in option `-fn`", 22},
          {"LongNameOf16", add + Args{"-ln", "0123456789ABCDEF"}, "", 0},
          {"LongNameOf17", add + Args{"-ln", "0123456789ABCDEFG"},
              "Long name can have up to 16 chars!", 17},
          {"PathOf255", {"-fa", dir + "/e.bin", "-ow"}, "", 0},
          {"PathOf256", {"-fa", dir + "d/e.bin", "-ow"},
              "Invalid file name/mask '" + dir + "d/e.bin' in option `-fa`", 22}}) {
    SCOPED_TRACE(c.name);
    write_file("img.vem", image_with_empty_files(0, 8));
    const RunResult result = run(Args{"img.vem"} + c.args);
    EXPECT_EQ(result.err, c.err.empty() ? "" : err_line(c.err));
    EXPECT_EQ(result.status, c.status);
  }
}

TEST_F(LimitsTest, LargestImageEndsInSector65535) {
  write_file("boot.bin", make_booter(100));
  expect_run(run({"img.vem", "-ic", "-is", "8192", "-id", "256", "-ib", "boot.bin"}),
      "Creating VEM image: img.vem\nVEM image size: 8192 kB (65536 sectors)\nVEM BOOT file: "
      "boot.bin\n"
      "VEM Boot size: 128 bytes\nDirectory items: 256 (8192 bytes)\nCapacity: 8183.88 kB (65471 "
      "secotrs)\n\n",
      "", 0);
  const Bytes image = read_file("img.vem");
  EXPECT_EQ(image.size(), 8192u * 1024);
  EXPECT_EQ(u16_at(image, 14), 65535);
}

TEST_F(LimitsTest, LargestFileEndsInTheLastSector) {
  const Bytes largest = pattern_bytes(65535);
  write_file("largest.bin", largest);
  write_file("more.bin", pattern_bytes(65536));
  write_file("one.bin", "1");
  struct Case {
    const char* name;
    Bytes image;
    int first_sector;
  };
  for (const Case& c :
      std::vector<Case>{// 192 boot and 64 directory sectors leave 512 sectors in 96 kB
          {"SmallImage", {}, 256}, {"LargestImage", full_largest_image(512), 65024}}) {
    SCOPED_TRACE(c.name);
    if (c.image.empty()) {
      create_image("img.vem", 96, 256, 24576);
    } else {
      write_file("img.vem", c.image);
    }
    const Bytes before = read_file("img.vem");
    expect_run(run({"img.vem", "-fa", "more.bin"}), "Adding file: MORE.B\n",
        "Source file './more.bin' is too long! Max length 65535 bytes.", 9);
    ASSERT_EQ(run({"img.vem", "-fa", "largest.bin"}).status, 0);
    const Bytes image = read_file("img.vem");
    ASSERT_EQ(image.size(), before.size());
    const std::size_t slot =
        128u * static_cast<unsigned char>(image[12]) + 32u * (c.first_sector == 256 ? 0 : 127);
    EXPECT_EQ(u16_at(image, slot + 9), c.first_sector);
    EXPECT_EQ(
        image.substr(image.size() - 512 * 128), largest + "\xFF");  // up to the image's last byte
    const RunResult one_more = run({"img.vem", "-fa", "one.bin"});
    EXPECT_EQ(one_more.err, err_line("Disk full!"));
    EXPECT_EQ(one_more.status, 27);
    EXPECT_EQ(read_file("img.vem"), image);
  }
  write_file("img.vem", full_largest_image(511));  // one sector short of the largest file
  const RunResult result = run({"img.vem", "-fa", "largest.bin"});
  EXPECT_EQ(result.err, err_line("Disk full!"));
  EXPECT_EQ(result.status, 27);
}

TEST_F(LimitsTest, BoundsOfTheImageLayout) {
  struct Case {
    const char* name;
    Bytes image;
    Bytes booter;
    Args args;
    std::string err;
    int status;
  };
  const Args add_empty = {"-fa", "empty.bin", "-fn", "LAST.B"};
  const Args add_one = {"-fa", "one.bin"};
  write_file("empty.bin", "");
  write_file("one.bin", "1");
  for (const Case& c : std::vector<Case>{
           {"LastDirectorySlot", image_with_empty_files(255, 64), {}, add_empty, "", 0},
           {"DirectoryFull", image_with_empty_files(256, 64), {}, add_empty, "Directory full!", 26},
           {"CapacityZeroTakesEmptyFile", {}, make_booter(24576), add_empty, "", 0},
           {"CapacityZeroRefusesAByte", {}, make_booter(24576), add_one, "Disk full!", 27},
           {"LargestBooter", {}, make_booter(24576), {"-ir", "-ib", "boot.bin"}, "", 0},
           {"BooterOneByteTooLong", {}, make_booter(24577), {"-ir", "-ib", "boot.bin"},
               "Source file 'boot.bin' is too long! Max length 24576 bytes.", 9}}) {
    SCOPED_TRACE(c.name);
    if (c.image.empty()) {
      create_image("img.vem", 32, 256, 24576);  // capacity 0
      write_file("boot.bin", c.booter);
    } else {
      write_file("img.vem", c.image);
    }
    const Bytes before = read_file("img.vem");
    const RunResult result = run(Args{"img.vem"} + c.args);
    EXPECT_EQ(result.err, c.err.empty() ? "" : err_line(c.err));
    EXPECT_EQ(result.status, c.status);
    const Bytes after = read_file("img.vem");
    if (c.status != 0) {
      EXPECT_EQ(after, before);
    } else if (c.args[0] == "-fa") {
      const std::size_t last_slot =
          128u * static_cast<unsigned char>(after[12]) + 32u * (c.image.empty() ? 0 : 255);
      EXPECT_EQ(after.substr(last_slot, 9), "BLAST    ");
    } else {
      EXPECT_EQ(static_cast<unsigned char>(after[12]), 192);
    }
  }
}

TEST_F(LimitsTest, CataloguePausesAfterEvery20Rows) {
  struct Case {
    const char* name;
    int files;
    std::vector<int> paused_after;
  };
  for (const Case& c : std::vector<Case>{
           {"TwentyRows", 20, {}}, {"TwentyOneRows", 21, {20}}, {"FortyOneRows", 41, {20, 40}}}) {
    SCOPED_TRACE(c.name);
    write_file("img.vem", image_with_empty_files(c.files, 16));
    const RunResult result = run({"img.vem", "-c"});
    ASSERT_EQ(result.status, 0);
    std::vector<int> paused_after;
    std::size_t at = 0;
    while ((at = result.out.find("\nPress ENTER ...\n", at)) != std::string::npos) {
      const std::size_t row = result.out.rfind("\n", at - 2) + 1;  // the row before the blank line
      paused_after.push_back(std::stoi(result.out.substr(row, 3)));
      at += 1;
    }
    EXPECT_EQ(paused_after, c.paused_after);
    EXPECT_NE(result.out.find(" F" + std::to_string(c.files) + " "), std::string::npos);
  }
}

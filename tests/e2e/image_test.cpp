#include "harness.h"

#include <algorithm>

using ImageTest = E2eTest;

namespace {

RunOptions as(bool unprivileged, long file_size_limit = -1) {
  RunOptions options;
  options.unprivileged = unprivileged;
  options.file_size_limit = file_size_limit;
  return options;
}

// Images are compared without dumping megabytes: sizes and the first differing offset.
void expect_bytes(const Bytes& actual, const Bytes& expected) {
  const auto diff = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  EXPECT_TRUE(actual == expected) << "size " << actual.size() << ", expected " << expected.size()
                                  << ", first difference at " << (diff.first - actual.begin());
}

// Files FILEn.B of the given lengths, packed in slot order behind the directory.
Bytes packed(const std::vector<int>& lengths, int boot_sectors = 1, int dir_sectors = 8, int last = 4095) {
  RawImage image{boot_sectors, dir_sectors, last, {}, {}};
  int sector = boot_sectors + dir_sectors;
  for (int i = 0; i < static_cast<int>(lengths.size()); ++i) {
    const std::string n = std::to_string(i);
    image.slots.push_back({i, raw_entry('B', "FILE" + n, sector, 0x100 * i, lengths[i], i % 4, "Long name " + n)});
    image.data.push_back({sector, pattern_bytes(lengths[i], i)});
    sector += (lengths[i] + 127) / 128;
  }
  return build_raw_image(image);
}

// 32 kB: two files stored over the same 200 sectors, and a small one behind them.
Bytes overlapping(int dir_sectors) {
  const int first = 1 + dir_sectors;
  return build_raw_image({1, dir_sectors, 255, {{0, raw_entry('B', "ONE", first, 0, 25600)},
      {1, raw_entry('B', "TWO", first, 0, 25600)}, {2, raw_entry('B', "SMALL", first + 200, 0, 10)}}, {}});
}

std::string catalogue_head(const std::string& mask) {
  return "Catalogue of 'img.vem', mask: '" + mask + "'\n\nIdx  T Name      Long name         Start           Size" +
         "          AL\n" + std::string(67, '-') + "\n";
}

}  // namespace

TEST_F(ImageTest, CreateLaysOutBooterDirectoryAndFreeSectors) {
  struct Case { const char* name; Args options; int booter, boot_sectors, dir_sectors, last; std::string report; };
  const std::vector<Case> cases = {
      {"Defaults", {}, 1000, 8, 8, 4095, "VEM image size: 512 kB (4096 sectors)\nVEM BOOT file: boot.bin\n"
       "VEM Boot size: 1024 bytes\nDirectory items: 32 (1024 bytes)\nCapacity: 510 kB (4080 secotrs)\n"},
      {"NoCapacityLeft", {"-is", "32", "-id", "256"}, 24576, 192, 64, 255, "VEM image size: 32 kB (256 sectors)\n"
       "VEM BOOT file: boot.bin\nVEM Boot size: 24576 bytes\nDirectory items: 256 (8192 bytes)\nCapacity: 0 kB (0 secotrs)\n"},
      {"Largest", {"-is", "8192", "-id", "4"}, 10, 1, 1, 65535, "VEM image size: 8192 kB (65536 sectors)\nVEM BOOT file: "
       "boot.bin\nVEM Boot size: 128 bytes\nDirectory items: 4 (128 bytes)\nCapacity: 8191.75 kB (65534 secotrs)\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes booter = make_booter(c.booter);
    write_file("boot.bin", booter);
    expect_run(run(Args{"img.vem", "-ic", "-ib", "boot.bin"} + c.options), "Creating VEM image: img.vem\n" + c.report + "\n",
               "", 0);
    Bytes expected = booter + Bytes(c.boot_sectors * 128 - c.booter, '\xFF') + Bytes(c.dir_sectors * 128, '\xE5');
    expected.resize((c.last + 1) * 128, '\xFF');
    expected.replace(12, 4, {char(c.boot_sectors), char(c.dir_sectors), char(c.last & 0xFF), char(c.last >> 8)});
    expect_bytes(read_file("img.vem"), expected);
    EXPECT_EQ(read_file("boot.bin"), booter);
  }
}

TEST_F(ImageTest, CreateFailuresAfterDeletionLeaveAnEmptyImage) {
  Bytes bad_signature = make_booter(200), bad_jump = make_booter(200);
  bad_signature[3] = 0x11;
  bad_jump[9] = static_cast<char>(0xC9);
  const Bytes old = packed({300});
  struct Case { const char* name; Bytes booter; bool read_only; std::string message; int status; };
  const std::vector<Case> cases = {
      {"MissingBooter", "", false, "Can't open file 'boot.bin' for reading!", 6},
      {"BooterTooLong", make_booter(24577), false, "Source file 'boot.bin' is too long! Max length 24576 bytes.", 9},
      {"WrongSignature", bad_signature, false, "Invalid BOOT binary file! 'boot.bin'", 21},
      {"WrongJumpOpcode", bad_jump, false, "Invalid BOOT binary file! 'boot.bin'", 21},
      {"ReadOnlyImageIsKept", make_booter(200), true, "Can't access output file 'img.vem' for writing!", 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const char* name : {"img.vem", "boot.bin"}) ::remove(path(name).c_str());
    write_file("img.vem", old);
    if (!c.booter.empty()) write_file("boot.bin", c.booter);
    if (c.read_only) make_read_only("img.vem");
    expect_run(run({"img.vem", "-ic", "-ib", "boot.bin"}, as(c.read_only)), "Creating VEM image: img.vem\n", c.message,
               c.status);
    expect_bytes(read_file("img.vem"), c.read_only ? old : "");
  }
}

TEST_F(ImageTest, FailedImageWriteIsReported) {
  const Bytes old = packed({300});
  write_file("boot.bin", make_booter(100));
  const std::string reconfiguring = "Reconfiguring VEM image: img.vem\n";
  for (const auto& [args, limit, out, copy_kept] : std::vector<std::tuple<Args, long, std::string, bool>>{
           {{"-ic", "-ib", "boot.bin"}, 4096, "Creating VEM image: img.vem\n", false},
           {{"-ir", "-id", "16"}, 4096, reconfiguring + "  Directory items: 32 -> 16\n\n", true},
           {{"-ir", "-ib", "boot.bin"}, 100, reconfiguring + "  New VEM BOOT file: boot.bin\n\n", false}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    write_file("img.vem", old);
    ::remove(path("img.vem.tmp").c_str());
    expect_run(run(Args{"img.vem"} + args, as(false, limit)), out, "Can't write to the file 'img.vem'!", 14);
    if (copy_kept) expect_bytes(read_file("img.vem.tmp"), old);  // the previous image survives beside the broken one
  }
}

TEST_F(ImageTest, ReconfigureMovesFilesOrRefusesUnchanged) {
  const std::string to_4 = "  Directory items: 32 -> 4\n\n", to_32k = "  Directory items: 32 -> 4\n  VEM image size: 512 kB"
      " -> 32 kB\n\n", fitted = to_32k + "VEM image size: 32 kB (256 sectors)\nVEM BOOT size: 128 bytes\nDirectory items: "
      "4 (128 bytes)\nCapacity: 31.75 kB (254 secotrs)\n\n";
  Bytes boot_only = packed({300, 129});
  boot_only.replace(0, 128, make_booter(100) + Bytes(28, '\xFF')).replace(12, 4, {1, 8, '\xFF', 0x0F});
  struct Case { const char* name; Bytes source; int booter; Args options; std::string out; int status; Bytes expected; };
  const std::vector<Case> cases = {  // booter 0: no -ib; expected empty: the image is unchanged
      {"SameGeometry", packed({300}), 0, {"-is", "512", "-id", "32"}, "No changes in Image Geometry nor Boot code!\n\n", 0, {}},
      {"BootCodeOnly", packed({300, 129}), 100, {}, "  New VEM BOOT file: new.bin\n\n\n", 0, boot_only},
      {"BootGrowsOneSector", packed({300, 0, 129}), 256, {}, "  New VEM BOOT file: new.bin\n\nVEM image size: 512 kB "
       "(4096 sectors)\nVEM BOOT size: 256 bytes\nDirectory items: 32 (1024 bytes)\nCapacity: 510.75 kB (4086 secotrs)\n\n",
       0, packed({300, 0, 129}, 2)},
      {"SizeOnlyKeepsFilesInPlace", packed({300, 129}), 0, {"-is", "1024"}, "  VEM image size: 512 kB -> 1024 kB\n\nVEM "
       "image size: 1024 kB (8192 sectors)\nVEM BOOT size: 128 bytes\nDirectory items: 32 (1024 bytes)\nCapacity: 1022.88 "
       "kB (8183 secotrs)\n\n", 0, packed({300, 129}, 1, 8, 8191)},
      {"ItemsOnlyShrinksToDefaultSize", packed({300, 129}, 1, 8, 8191), 0, {"-id", "16"}, "  Directory items: 32 -> 16\n"
       "  VEM image size: 1024 kB -> 512 kB\n\nVEM image size: 512 kB (4096 sectors)\nVEM BOOT size: 128 bytes\n"
       "Directory items: 16 (512 bytes)\nCapacity: 511.375 kB (4091 secotrs)\n\n", 0, packed({300, 129}, 1, 4)},
      {"ExactFit", packed({25600, 6912}), 0, {"-is", "32", "-id", "4"}, fitted, 0, packed({25600, 6912}, 1, 1, 255)},
      {"OneSectorTooMany", packed({25600, 6913}), 0, {"-is", "32", "-id", "4"}, to_32k, 28, {}},
      {"OverlappingFilesCountTwice", overlapping(8), 0, {"-is", "32", "-id", "4"}, to_4, 28, {}},
      {"FewerItemsThanFiles", packed({1, 1, 1, 1, 1}), 0, {"-id", "4"}, to_4, 28, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file("img.vem", c.source);
    write_file("new.bin", make_booter(c.booter));
    const Args args = Args{"img.vem", "-ir"} + (c.booter > 0 ? Args{"-ib", "new.bin"} : Args{}) + c.options;
    const std::string refusal = "Current VEM content do not fit into new VEM geometry (size/directory/boot)!";
    expect_run(run(args), "Reconfiguring VEM image: img.vem\n" + c.out, c.status ? refusal : "", c.status);
    expect_bytes(read_file("img.vem"), c.expected.empty() ? c.source : c.expected);
    EXPECT_EQ(list_dir(), (Args{"img.vem", "new.bin"}));
  }
}

TEST_F(ImageTest, ReconfigureTemporaryCopy) {
  const Bytes source = packed({300, 129});
  write_file("img.vem", source);
  write_file("img.vem.tmp", "left over");
  EXPECT_EQ(run({"img.vem", "-ir", "-id", "16"}).status, 0);
  EXPECT_EQ(list_dir(), Args{"img.vem"});
  expect_bytes(read_file("img.vem"), packed({300, 129}, 1, 4));

  const std::string name = std::string(248, 'n') + ".vem";
  write_file(name, source);
  expect_run(run({name, "-ir", "-id", "16"}), "Reconfiguring VEM image: " + name + "\n  Directory items: 32 -> 16\n\n",
             "Can't open file '" + name + ".tmp' for writing!", 12);
  expect_bytes(read_file(name), source);
}

TEST_F(ImageTest, UnusableImagesAreRefusedUntouched) {
  const Bytes valid = packed({300});
  auto patched = [&](std::size_t offset, const Bytes& bytes) { return Bytes(valid).replace(offset, bytes.size(), bytes); };
  const Args ir = {"-ir", "-id", "16"};
  const std::string info = "VEM image info: img.vem\n", reconfiguring = "Reconfiguring VEM image: img.vem\n",
                    invalid = "Invalid BOOT in VEM image!", unopened = "Can't open file 'img.vem' for writing!";
  struct Case { const char* name; Bytes image; bool read_only; Args command; std::string out, message; int status; };
  const std::vector<Case> cases = {  // image empty: no file
      {"Missing", "", false, {"-ii"}, info, unopened, 12},
      {"ReadOnly", valid, true, {"-c"}, "", unopened, 12},
      {"ShorterThanHeader", valid.substr(0, 15), false, {"-c"}, "", "Read beyond end of the file 'img.vem'.", 10},
      {"EndsInsideAFile", valid.substr(0, 1280), false, ir, reconfiguring + "  Directory items: 32 -> 16\n\n",
       "Read beyond end of the file 'img.vem'.", 10},
      {"WrongSignature", patched(2, "\x8D"), false, {"-ii"}, info, invalid, 21},
      {"WrongJumpOpcode", patched(9, "\xC9"), false, ir, reconfiguring, invalid, 21},
      {"NoBootSector", patched(12, Bytes(1, '\0')), false, ir, reconfiguring, invalid, 21},
      {"BootOver192Sectors", build_raw_image({193, 8, 4095, {}, {}}), false, ir, reconfiguring, invalid, 21},
      {"DirectoryOver64Sectors", build_raw_image({1, 65, 4095, {}, {}}), false, {"-c"}, "", invalid, 21},
      {"AreasBeyondLastSector", patched(14, Bytes("\x07\0", 2)), false, ir, reconfiguring, invalid, 21},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::remove(path("img.vem").c_str());
    if (!c.image.empty()) write_file("img.vem", c.image);
    if (c.read_only) make_read_only("img.vem");
    expect_run(run(Args{"img.vem"} + c.command, as(c.read_only)), c.out, c.message, c.status);
    EXPECT_EQ(list_dir(), c.image.empty() ? Args{} : Args{"img.vem"});
    expect_bytes(read_file("img.vem"), c.image);
  }
}

TEST_F(ImageTest, InfoOnFreshImageShowsNoFiles) {
  create_image("img.vem", 512, 32, 200);
  expect_run(run({"img.vem", "-ii"}), "VEM image info: img.vem\nVEM image size: 512 kB (4096 sectors)\nVEM BOOT size: "
             "256 bytes\nDirectory items: 32 (1024 bytes)\nCapacity: 510.75 kB (4086 secotrs)\n\nFiles: 0\n"
             "Used space: 0 kB\nFree space: 510.75 kB\n", "", 0);
}

TEST_F(ImageTest, CatalogueListsMatchingSlots) {
  const Bytes image = build_raw_image({1, 8, 255, {{0, raw_entry('B', "GAME", 9, 49152, 1, 3, "Space Game")},
      {1, raw_entry('B', "\xE5GONE", 9, 0, 10)}, {2, raw_entry('P', "PIC", 10, 0x4000, 129, 1, {"a\x01\x7F\x80z\0\x1F!", 8})},
      {3, raw_entry('\x7F', "OLD", 9, 0, 10)}, {5, raw_entry('B', "ZERO", 12, 0, 0, 6)}}, {}});
  const std::string game = "  1  B GAME      Space Game        49152 (C000h)      1 (0001h)  AL\n";
  const std::string pic = "  3  P PIC       a   z  !          16384 (4000h)    129 (0081h)  -L\n";
  const std::string zero = "  6  B ZERO                            0 (0000h)      0 (0000h)  A-\n";
  write_file("img.vem", image);
  for (const auto& [mask, shown, listing] : std::vector<std::tuple<Args, std::string, std::string>>{
           {{}, "????????", game + pic + zero + "\n0.375 kB in 3 file(s), 30.5 kB free\n"},
           {{"*.B"}, "????????.B", game + zero + "\n0.125 kB in 2 file(s), 30.5 kB free\n"},
           {{"NONE"}, "NONE", "\n0 kB in 0 file(s), 30.5 kB free\n"}}) {
    SCOPED_TRACE(shown);
    expect_run(run(Args{"img.vem", "-c"} + mask), catalogue_head(shown) + listing, "", 0);
    expect_bytes(read_file("img.vem"), image);
  }
}

TEST_F(ImageTest, CataloguePausesOnceBeforeRow21) {
  RawImage image{1, 8, 4095, {}, {}};
  std::string rows;
  for (int i = 1; i <= 21; ++i) {
    const std::string n = (i < 10 ? "0" : "") + std::to_string(i);
    image.slots.push_back({i - 1, raw_entry('B', "F" + n, 8 + i, 0, 128)});
    rows += (i == 21 ? "\nPress ENTER ...\n " : " ") + std::string(i < 10 ? " " : "") + std::to_string(i) + "  B F" + n +
            "                             0 (0000h)    128 (0080h)  --\n";
  }
  write_file("img.vem", build_raw_image(image));
  expect_run(run({"img.vem", "-c"}), catalogue_head(std::string(8, '?')) + rows +
             "\n2.625 kB in 21 file(s), 508.25 kB free\n", "", 0);
}

TEST_F(ImageTest, PackingThatCannotFitWritesNothing) {
  write_file("img.vem", overlapping(1));
  expect_run(run({"img.vem", "-fd", "SMALL.B"}), "Delete files by mask: SMALL.B\n\nDeleting file: SMALL.B\n",
             "Disk full!", 27);
  expect_bytes(read_file("img.vem"), overlapping(1));
}

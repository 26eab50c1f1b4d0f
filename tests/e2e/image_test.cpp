#include "harness.h"

using ImageTest = E2eTest;

namespace {

// Files FILEn.B of the given lengths, packed in slot order behind the directory.
Bytes packed(const std::vector<int>& lengths, int boot_sectors = 1, int dir_sectors = 8, int last = 4095) {
  RawImage image{boot_sectors, dir_sectors, last, {}, {}};
  for (int i = 0, sector = boot_sectors + dir_sectors; i < static_cast<int>(lengths.size()); ++i) {
    const std::string n = std::to_string(i);
    image.slots.push_back({i, raw_entry('B', "FILE" + n, sector, 0x100 * i, lengths[i], i % 4, "Long name " + n)});
    image.data.push_back({sector, pattern_bytes(lengths[i], i)});
    sector += (lengths[i] + 127) / 128;
  }
  return build_raw_image(image);
}

Bytes overlapping(int dir) {  // 32 kB, `dir` directory sectors: two files over the same 200 sectors, one behind them
  return build_raw_image({1, dir, 255, {{0, raw_entry('B', "ONE", 1 + dir, 0, 25600)},
      {1, raw_entry('B', "TWO", 1 + dir, 0, 25600)}, {2, raw_entry('B', "SMALL", 201 + dir, 0, 10)}}, {}});
}

}  // namespace

TEST_F(ImageTest, CreateLaysOutAnEmptyImageThatInfoReports) {
  struct Case { const char* name; Args options; int booter, boot_sectors, dir_sectors, last; std::string report; };
  for (const Case& c : std::vector<Case>{
      {"NoCapacityLeft", {"-is", "32", "-id", "256"}, 24576, 192, 64, 255, "32 kB (256 sectors)\nVEM BOOT file: "
       "boot.bin\nVEM Boot size: 24576 bytes\nDirectory items: 256 (8192 bytes)\nCapacity: 0 kB (0 secotrs)\n"},
      {"Defaults", {}, 1000, 8, 8, 4095, "512 kB (4096 sectors)\nVEM BOOT file: boot.bin\nVEM Boot size: 1024 bytes\n"
       "Directory items: 32 (1024 bytes)\nCapacity: 510 kB (4080 secotrs)\n"}}) {
    SCOPED_TRACE(c.name);
    const Bytes booter = make_booter(c.booter);
    write_file("boot.bin", booter);
    expect_run(run(Args{"img.vem", "-ic", "-ib", "boot.bin"} + c.options),
               "Creating VEM image: img.vem\nVEM image size: " + c.report + "\n", "", 0);
    Bytes expected = booter + Bytes(c.boot_sectors * 128 - c.booter, '\xFF') + Bytes(c.dir_sectors * 128, '\xE5');
    expected.resize((c.last + 1) * 128, '\xFF');
    expected.replace(12, 4, {char(c.boot_sectors), char(c.dir_sectors), char(c.last & 0xFF), char(c.last >> 8)});
    expect_bytes(read_file("img.vem"), expected);
    EXPECT_EQ(read_file("boot.bin"), booter);
  }
  expect_run(run({"img.vem", "-ii"}), "VEM image info: img.vem\nVEM image size: 512 kB (4096 sectors)\nVEM BOOT "
             "size: 1024 bytes\nDirectory items: 32 (1024 bytes)\nCapacity: 510 kB (4080 secotrs)\n\nFiles: 0\n"
             "Used space: 0 kB\nFree space: 510 kB\n", "", 0);  // info on the fresh image of the last row
}

TEST_F(ImageTest, CreateFailuresAfterDeletionLeaveAnEmptyImage) {
  const Bytes old = packed({300}), booter = make_booter(200);
  struct Case { const char* name; Bytes booter; RunOptions user; std::string err; int status; };
  for (const Case& c : std::vector<Case>{  // no boot.bin at first; unprivileged: the image is read-only
      {"MissingBooter", "", {}, "Can't open file 'boot.bin' for reading!", 6},
      {"BooterTooLong", make_booter(24577), {}, "Source file 'boot.bin' is too long! Max length 24576 bytes.", 9},
      {"WrongSignature", Bytes(booter).replace(3, 1, "\x11"), {}, "Invalid BOOT binary file! 'boot.bin'", 21},
      {"WrongJumpOpcode", Bytes(booter).replace(9, 1, "\xC9"), {}, "Invalid BOOT binary file! 'boot.bin'", 21},
      {"ReadOnlyImageIsKept", booter, unprivileged(), "Can't access output file 'img.vem' for writing!", 13}}) {
    SCOPED_TRACE(c.name);
    write_file("img.vem", old);
    if (!c.booter.empty()) write_file("boot.bin", c.booter);
    if (c.user.unprivileged) make_read_only("img.vem");
    expect_run(run({"img.vem", "-ic", "-ib", "boot.bin"}, c.user), "Creating VEM image: img.vem\n", c.err, c.status);
    expect_bytes(read_file("img.vem"), c.user.unprivileged ? old : "");
  }
}

TEST_F(ImageTest, FailedImageWritesKeepWhatTheyCan) {
  const Bytes old = packed({300});
  const std::string name = std::string(248, 'n') + ".vem";
  write_file("boot.bin", make_booter(100));
  for (const auto& [args, limit, out] : std::vector<std::tuple<Args, long, std::string>>{
           {{"-ic", "-ib", "boot.bin"}, 4096, "Creating VEM image: img.vem\n"},
           {{"-ir", "-ib", "boot.bin"}, 100, "Reconfiguring VEM image: img.vem\n  New VEM BOOT file: boot.bin\n\n"},
           {{"-ir", "-id", "16"}, 4096, "Reconfiguring VEM image: img.vem\n  Directory items: 32 -> 16\n\n"}}) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    write_file("img.vem", old);
    expect_run(run(Args{"img.vem"} + args, size_limited(limit)), out, "Can't write to the file 'img.vem'!", 14);
  }
  expect_bytes(read_file("img.vem.tmp"), old);  // the rebuilt image's predecessor survives beside it
  write_file(name, old);  // an image name too long for its temporary copy
  expect_run(run({name, "-ir", "-id", "16"}), "Reconfiguring VEM image: " + name + "\n  Directory items: 32 -> 16\n\n",
             "Can't open file '" + name + ".tmp' for writing!", 12);
  expect_bytes(read_file(name), old);
}

TEST_F(ImageTest, ReconfigureMovesFilesOrRefusesUnchanged) {
  const std::string to_4 = "  Directory items: 32 -> 4\n", to_32k = to_4 + "  VEM image size: 512 kB -> 32 kB\n\n";
  write_file("one.bin", make_booter(100));
  write_file("two.bin", make_booter(256));
  const Bytes boot_only = packed({300, 129}).replace(16, 112, make_booter(100).substr(16) + Bytes(28, '\xFF'));
  struct Case { const char* name; Bytes source; Args options; std::string out; int status; Bytes expected; };
  write_file("img.vem.tmp", "left over");  // the first rebuild replaces it with its copy, then removes it
  for (const Case& c : std::vector<Case>{  // expected empty: the image is unchanged
      {"BootGrowsOneSector", packed({300, 0, 129}), {"-ib", "two.bin"}, "  New VEM BOOT file: two.bin\n\nVEM image "
       "size: 512 kB (4096 sectors)\nVEM BOOT size: 256 bytes\nDirectory items: 32 (1024 bytes)\nCapacity: 510.75 kB "
       "(4086 secotrs)\n\n", 0, packed({300, 0, 129}, 2)},
      {"NoChange", packed({1}), {"-is", "512", "-id", "32"}, "No changes in Image Geometry nor Boot code!\n\n", 0, {}},
      {"BootCodeOnly", packed({300, 129}), {"-ib", "one.bin"}, "  New VEM BOOT file: one.bin\n\n\n", 0, boot_only},
      {"SizeOnlyKeepsFilesInPlace", packed({300, 129}), {"-is", "1024"}, "  VEM image size: 512 kB -> 1024 kB\n\n"
       "VEM image size: 1024 kB (8192 sectors)\nVEM BOOT size: 128 bytes\nDirectory items: 32 (1024 bytes)\n"
       "Capacity: 1022.88 kB (8183 secotrs)\n\n", 0, packed({300, 129}, 1, 8, 8191)},
      {"ItemsOnlyShrinksToDefaultSize", packed({300, 129}, 1, 8, 8191), {"-id", "16"}, "  Directory items: 32 -> 16\n"
       "  VEM image size: 1024 kB -> 512 kB\n\nVEM image size: 512 kB (4096 sectors)\nVEM BOOT size: 128 bytes\n"
       "Directory items: 16 (512 bytes)\nCapacity: 511.375 kB (4091 secotrs)\n\n", 0, packed({300, 129}, 1, 4)},
      {"ExactFit", packed({25600, 6912}), {"-is", "32", "-id", "4"}, to_32k + "VEM image size: 32 kB (256 sectors)\n"
       "VEM BOOT size: 128 bytes\nDirectory items: 4 (128 bytes)\nCapacity: 31.75 kB (254 secotrs)\n\n", 0,
       packed({25600, 6912}, 1, 1, 255)},
      {"OneSectorTooMany", packed({25600, 6913}), {"-is", "32", "-id", "4"}, to_32k, 28, {}},
      {"OverlappingFilesCountTwice", overlapping(8), {"-is", "32", "-id", "4"}, to_4 + "\n", 28, {}},
      {"FewerItemsThanFiles", packed({1, 1, 1, 1, 1}), {"-id", "4"}, to_4 + "\n", 28, {}}}) {
    SCOPED_TRACE(c.name);
    write_file("img.vem", c.source);
    expect_run(run(Args{"img.vem", "-ir"} + c.options), "Reconfiguring VEM image: img.vem\n" + c.out,
               c.status ? "Current VEM content do not fit into new VEM geometry (size/directory/boot)!" : "", c.status);
    expect_bytes(read_file("img.vem"), c.expected.empty() ? c.source : c.expected);
    EXPECT_EQ(list_dir(), (Args{"img.vem", "one.bin", "two.bin"}));
  }
}

TEST_F(ImageTest, RefusedCommandsLeaveTheImageUntouched) {
  const Bytes valid = packed({300});
  auto patched = [&](std::size_t at, const Bytes& bytes) { return Bytes(valid).replace(at, bytes.size(), bytes); };
  const Args ir = {"-ir", "-id", "16"};
  const std::string info = "VEM image info: img.vem\n", reconfiguring = "Reconfiguring VEM image: img.vem\n",
                    invalid = "Invalid BOOT in VEM image!", unopened = "Can't open file 'img.vem' for writing!";
  struct Case { const char* name; Bytes image; RunOptions user; Args args; std::string out, message; int status; };
  for (const Case& c : std::vector<Case>{  // image empty: no file; the unprivileged row finds it read-only
      {"Missing", "", {}, {"-ii"}, info, unopened, 12},
      {"ShorterThanHeader", valid.substr(0, 15), {}, {"-c"}, "", "Read beyond end of the file 'img.vem'.", 10},
      {"EndsInsideAFile", valid.substr(0, 1280), {}, ir, reconfiguring + "  Directory items: 32 -> 16\n\n",
       "Read beyond end of the file 'img.vem'.", 10},
      {"WrongSignature", patched(2, "\x8D"), {}, {"-ii"}, info, invalid, 21},
      {"WrongJumpOpcode", patched(9, "\xC9"), {}, ir, reconfiguring, invalid, 21},
      {"NoBootSector", patched(12, Bytes(1, '\0')), {}, ir, reconfiguring, invalid, 21},
      {"BootOver192Sectors", build_raw_image({193, 8, 4095, {}, {}}), {}, ir, reconfiguring, invalid, 21},
      {"DirectoryOver64Sectors", build_raw_image({1, 65, 4095, {}, {}}), {}, {"-c"}, "", invalid, 21},
      {"AreasBeyondLastSector", patched(14, Bytes("\x07\0", 2)), {}, ir, reconfiguring, invalid, 21},
      {"PackingThatCannotFit", overlapping(1), {}, {"-fd", "SMALL.B"}, "Delete files by mask: SMALL.B\n\n"
       "Deleting file: SMALL.B\n", "Disk full!", 27},
      {"ReadOnly", valid, unprivileged(), {"-c"}, "", unopened, 12}}) {
    SCOPED_TRACE(c.name);
    if (!c.image.empty()) write_file("img.vem", c.image);
    if (c.user.unprivileged) make_read_only("img.vem");
    expect_run(run(Args{"img.vem"} + c.args, c.user), c.out, c.message, c.status);
    EXPECT_EQ(list_dir(), c.image.empty() ? Args{} : Args{"img.vem"});
    expect_bytes(read_file("img.vem"), c.image);
  }
}

TEST_F(ImageTest, CatalogueListsMatchingSlotsAndPausesBeforeRow21) {
  RawImage image{1, 8, 255, {{0, raw_entry('B', "GAME", 9, 49152, 1, 3, "Space Game")},
      {1, raw_entry('B', "\xE5GONE", 9, 0, 10)}, {3, raw_entry('\x7F', "OLD", 9, 0, 10)},
      {2, raw_entry('P', "PIC", 10, 0x4000, 129, 1, {"a\x01\x7F\x80z\0\x1F!", 8})},
      {5, raw_entry('B', "ZERO", 12, 0, 0, 6)}}, {}};
  const std::string game = "  1  B GAME      Space Game        49152 (C000h)      1 (0001h)  AL\n";
  const std::string zero = "  6  B ZERO                            0 (0000h)      0 (0000h)  A-\n";
  std::string all = game + "  3  P PIC       a   z  !          16384 (4000h)    129 (0081h)  -L\n" + zero;
  for (int slot = 6; slot < 24; ++slot) {  // one-sector files FG to FX, one after another behind PIC
    image.slots.push_back({slot, raw_entry('C', {'F', char('A' + slot)}, slot + 6, 0, 128)});
    all += (slot == 23 ? "\nPress ENTER ...\n " : slot < 9 ? "  " : " ") + std::to_string(slot + 1) + "  C F" +
           char('A' + slot) + std::string(24, ' ') + "      0 (0000h)    128 (0080h)  --\n";
  }
  write_file("img.vem", build_raw_image(image));
  for (const auto& [mask, shown, listing] : std::vector<std::tuple<Args, std::string, std::string>>{
           {{}, "????????", all + "\n2.625 kB in 21 file(s), 28.25 kB free\n"},
           {{"*.B"}, "????????.B", game + zero + "\n0.125 kB in 2 file(s), 28.25 kB free\n"},
           {{"NONE"}, "NONE", "\n0 kB in 0 file(s), 28.25 kB free\n"}}) {
    SCOPED_TRACE(shown);
    expect_run(run(Args{"img.vem", "-c"} + mask), "Catalogue of 'img.vem', mask: '" + shown + "'\n\nIdx  T Name      "
               "Long name         Start           Size          AL\n" + std::string(67, '-') + "\n" + listing, "", 0);
    expect_bytes(read_file("img.vem"), build_raw_image(image));
  }
}

// The image commands -ic, -ir and -ii, the catalogue, and every image a run
// refuses.
#include <unistd.h>

#include <algorithm>

#include "harness.h"

namespace {

// Files FILEn.B of the given lengths, packed in slot order behind the directory.
Bytes packed(
    const std::vector<int>& lengths, int boot_sectors = 1, int dir_sectors = 8, int last = 4095) {
  RawImage image{boot_sectors, dir_sectors, last, {}, {}};
  for (int i = 0, sector = boot_sectors + dir_sectors; i < static_cast<int>(lengths.size()); ++i) {
    const std::string n = std::to_string(i);
    image.slots.push_back(
        {i, raw_entry('B', "FILE" + n, sector, 0x100 * i, lengths[i], i % 4, "Long name " + n)});
    image.data.push_back({sector, pattern_bytes(lengths[i], i)});
    sector += (lengths[i] + 127) / 128;
  }
  return build_raw_image(image);
}

// 32 kB, `dir` directory sectors: two files over the same 200 sectors, one behind them.
Bytes overlapping(int dir) {
  return build_raw_image({1, dir, 255,
      {{0, raw_entry('B', "ONE", 1 + dir, 0, 25600)}, {1, raw_entry('B', "TWO", 1 + dir, 0, 25600)},
          {2, raw_entry('B', "SMALL", 201 + dir, 0, 10)}},
      {}});
}

// `info`: what -ii then reports (empty: not run).
struct CreateCase {
  const char* name;
  Args options;
  int booter, boot_sectors, dir_sectors, last;
  std::string report, info;
};
PARAM_FIXTURE(CreateTest, E2eTest, CreateCase);

TEST_P(CreateTest, LaysOutAnEmptyImage) {
  const CreateCase& c = GetParam();
  write_file("boot.bin", make_booter(c.booter));
  expect_run(run(Args{"img.vem", "-ic", "-ib", "boot.bin"} + c.options),
      "Creating VEM image: img.vem\nVEM image size: " + c.report + "\n", "", 0);
  expect_bytes(read_file("img.vem"),
      build_raw_image({c.boot_sectors, c.dir_sectors, c.last, {}, {}, c.booter}));
  if (!c.info.empty())
    expect_run(run({"img.vem", "-ii"}), "VEM image info: img.vem\n" + c.info, "", 0);
}

INSTANTIATE_TEST_SUITE_P(Image, CreateTest,
    ::testing::Values(
        CreateCase{"NoCapacityLeft", {"-is", "32", "-id", "256"}, 24576, 192, 64, 255,
            "32 kB (256 sectors)\nVEM BOOT file: boot.bin\nVEM Boot size: 24576 bytes\n"
            "Directory items: 256 (8192 bytes)\nCapacity: 0 kB (0 secotrs)\n",
            ""},
        CreateCase{"LargestEndsInSector65535", {"-is", "8192", "-id", "256"}, 100, 1, 64, 65535,
            "8192 kB (65536 sectors)\nVEM BOOT file: boot.bin\nVEM Boot size: 128 bytes\n"
            "Directory items: 256 (8192 bytes)\nCapacity: 8183.88 kB (65471 secotrs)\n",
            ""},
        CreateCase{"Defaults", {}, 1000, 8, 8, 4095,
            "512 kB (4096 sectors)\nVEM BOOT file: boot.bin\nVEM Boot size: 1024 bytes\n"
            "Directory items: 32 (1024 bytes)\nCapacity: 510 kB (4080 secotrs)\n",
            "VEM image size: 512 kB (4096 sectors)\nVEM BOOT size: 1024 bytes\n"
            "Directory items: 32 (1024 bytes)\nCapacity: 510 kB (4080 secotrs)\n\nFiles: 0\n"
            "Used space: 0 kB\nFree space: 510 kB\n"}),
    CaseName());

// `expected` empty: the image is unchanged; status 28: refused as too small.
// `stale_copy`: an img.vem.tmp left over, replaced and then removed.
struct ReconfigureCase {
  const char* name;
  Bytes source;
  Args options;
  std::string out;
  int status;
  Bytes expected;
  bool stale_copy = false;
};
PARAM_FIXTURE(ReconfigureTest, E2eTest, ReconfigureCase);

TEST_P(ReconfigureTest, MovesFilesOrRefusesUnchanged) {
  const ReconfigureCase& c = GetParam();
  write_file("one.bin", make_booter(100));
  write_file("two.bin", make_booter(256));
  write_file("img.vem", c.source);
  if (c.stale_copy) write_file("img.vem.tmp", "left over");
  expect_run(run(Args{"img.vem", "-ir"} + c.options), "Reconfiguring VEM image: img.vem\n" + c.out,
      c.status ? "Current VEM content do not fit into new VEM geometry (size/directory/boot)!" : "",
      c.status);
  expect_bytes(read_file("img.vem"), c.expected.empty() ? c.source : c.expected);
  EXPECT_EQ(list_dir(), (Args{"img.vem", "one.bin", "two.bin"}));
}

const std::string TO_4 = "  Directory items: 32 -> 4\n",
                  TO_32K = TO_4 + "  VEM image size: 512 kB -> 32 kB\n\n";
INSTANTIATE_TEST_SUITE_P(Image, ReconfigureTest,
    ::testing::Values(
        ReconfigureCase{"BootGrowsOneSector", packed({300, 0, 129}), {"-ib", "two.bin"},
            "  New VEM BOOT file: two.bin\n\nVEM image size: 512 kB (4096 sectors)\n"
            "VEM BOOT size: 256 bytes\nDirectory items: 32 (1024 bytes)\n"
            "Capacity: 510.75 kB (4086 secotrs)\n\n",
            0, packed({300, 0, 129}, 2), true},
        ReconfigureCase{"NoChange", packed({1}), {"-is", "512", "-id", "32"},
            "No changes in Image Geometry nor Boot code!\n\n", 0, {}},
        ReconfigureCase{"BootCodeOnly", packed({300, 129}), {"-ib", "one.bin"},
            "  New VEM BOOT file: one.bin\n\n\n", 0,
            packed({300, 129}).replace(16, 112, make_booter(100).substr(16) + Bytes(28, '\xFF'))},
        ReconfigureCase{"ItemsOnlyShrinksToDefaultSize", packed({300, 129}, 1, 8, 8191),
            {"-id", "16"},
            "  Directory items: 32 -> 16\n  VEM image size: 1024 kB -> 512 kB\n\n"
            "VEM image size: 512 kB (4096 sectors)\nVEM BOOT size: 128 bytes\n"
            "Directory items: 16 (512 bytes)\nCapacity: 511.375 kB (4091 secotrs)\n\n",
            0, packed({300, 129}, 1, 4)},
        ReconfigureCase{"ExactFit", packed({25600, 6912}), {"-is", "32", "-id", "4"},
            TO_32K + "VEM image size: 32 kB (256 sectors)\nVEM BOOT size: 128 bytes\n"
                     "Directory items: 4 (128 bytes)\nCapacity: 31.75 kB (254 secotrs)\n\n",
            0, packed({25600, 6912}, 1, 1, 255)},
        ReconfigureCase{
            "OneSectorTooMany", packed({25600, 6913}), {"-is", "32", "-id", "4"}, TO_32K, 28, {}},
        ReconfigureCase{"OverlappingFilesCountTwice", overlapping(8), {"-is", "32", "-id", "4"},
            TO_4 + "\n", 28, {}},
        ReconfigureCase{
            "FewerItemsThanFiles", packed({1, 1, 1, 1, 1}), {"-id", "4"}, TO_4 + "\n", 28, {}}),
    CaseName());

// Refused runs leave the image (`image` empty: no file) as it was and nothing
// beside it. boot.bin is `booter` (empty: none); `limit`: the file size
// limit, so that the image, or the journal, the new image or the copy of an
// -ir, cannot be written.
struct Refusal {
  const char* name;
  Bytes image;
  Args args;
  std::string out, message;
  int status;
  RunOptions options = {};
  Bytes booter = make_booter(200);
};
PARAM_FIXTURE(RefusalTest, E2eTest, Refusal);

TEST_P(RefusalTest, LeavesTheImageUntouched) {
  const Refusal& c = GetParam();
  if (!c.image.empty()) write_file("img.vem", c.image);
  if (!c.booter.empty()) write_file("boot.bin", c.booter);
  if (c.options.unprivileged) ::chmod(path("img.vem").c_str(), 0444);
  Args before = list_dir();
  if (c.image.empty() && c.args[0] == "-ic") before.push_back("img.vem");
  expect_run(run(Args{"img.vem"} + c.args, c.options), c.out, c.message, c.status);
  EXPECT_EQ(list_dir(), before);
  expect_bytes(read_file("img.vem"), c.image);  // a new image whose Booter is missing stays empty
}

const Bytes VALID = packed({300});
Bytes patched(std::size_t at, const Bytes& bytes) {
  return Bytes(VALID).replace(at, bytes.size(), bytes);
}
const Args IR = {"-ir", "-id", "16"}, IC = {"-ic", "-ib", "boot.bin"};
const std::string INFO = "VEM image info: img.vem\n", CREATING = "Creating VEM image: img.vem\n",
                  RECONFIGURING = "Reconfiguring VEM image: img.vem\n",
                  INVALID = "Invalid BOOT in VEM image!",
                  UNOPENED = "Can't open file 'img.vem' for writing!",
                  BEYOND = "Read beyond end of the file 'img.vem'.",
                  UNWRITTEN = "Can't write to the file 'img.vem";
INSTANTIATE_TEST_SUITE_P(Image, RefusalTest,
    ::testing::Values(Refusal{"Missing", "", {"-ii"}, INFO, UNOPENED, 12},
        Refusal{"ShorterThanHeader", VALID.substr(0, 15), {"-c"}, "", BEYOND, 10},
        Refusal{"EndsInsideAFile", VALID.substr(0, 1280), IR,
            RECONFIGURING + "  Directory items: 32 -> 16\n\n", BEYOND, 10},
        Refusal{"WrongSignature", patched(2, "\x8D"), {"-ii"}, INFO, INVALID, 21},
        Refusal{"WrongJumpOpcode", patched(9, "\xC9"), IR, RECONFIGURING, INVALID, 21},
        Refusal{"NoBootSector", patched(12, Bytes(1, '\0')), IR, RECONFIGURING, INVALID, 21},
        Refusal{"BootOver192Sectors", build_raw_image({193, 8, 4095, {}, {}}), IR, RECONFIGURING,
            INVALID, 21},
        Refusal{"DirectoryOver64Sectors", build_raw_image({1, 65, 4095, {}, {}}), {"-c"}, "",
            INVALID, 21},
        Refusal{"AreasBeyondLastSector", patched(14, Bytes("\x07\0", 2)), IR, RECONFIGURING,
            INVALID, 21},
        Refusal{"PackingThatCannotFit", overlapping(1), {"-fd", "SMALL.B"},
            "Delete files by mask: SMALL.B\n\nDeleting file: SMALL.B\n", "Disk full!", 27},
        Refusal{"ReadOnlyForAWriter", VALID, {"-fd", "FILE0.B"}, "", UNOPENED, 12, unprivileged()},
        Refusal{"CreateMissingBooter", VALID, IC, CREATING,
            "Can't open file 'boot.bin' for reading!", 6, {}, ""},
        Refusal{"CreateNewMissingBooter", "", IC, CREATING,
            "Can't open file 'boot.bin' for reading!", 6, {}, ""},
        Refusal{"CreateBooterTooLong", VALID, IC, CREATING,
            "Source file 'boot.bin' is too long! Max length 24576 bytes.", 9, {},
            make_booter(24577)},
        Refusal{"CreateWrongSignature", VALID, IC, CREATING, "Invalid BOOT binary file! 'boot.bin'",
            21, {}, make_booter(200).replace(3, 1, "\x11")},
        Refusal{"CreateOverReadOnlyImage", VALID, IC, CREATING,
            "Can't access output file 'img.vem' for writing!", 13, unprivileged()},
        Refusal{"CreateCutShort", VALID, IC, CREATING, UNWRITTEN + "'!", 14, size_limited(4096)},
        Refusal{"ReconfigureJournalCutShort", VALID, {"-ir", "-ib", "boot.bin"},
            RECONFIGURING + "  New VEM BOOT file: boot.bin\n\n", UNWRITTEN + ".jnl'!", 14,
            size_limited(100), make_booter(100)},
        Refusal{"ReconfigureCutShort", VALID, IR, RECONFIGURING + "  Directory items: 32 -> 16\n\n",
            UNWRITTEN + "'!", 14, size_limited(4096)}),
    CaseName());

// An image whose name leaves no room for the name of its copy is kept.
using ImageTest = E2eTest;
TEST_F(ImageTest, ImageNameTooLongForItsCopyIsKept) {
  const std::string name = std::string(248, 'n') + ".vem";
  write_file(name, VALID);
  expect_run(run({name, "-ir", "-id", "16"}),
      "Reconfiguring VEM image: " + name + "\n  Directory items: 32 -> 16\n\n",
      "Can't open file '" + name + ".tmp' for writing!", 12);
  expect_bytes(read_file(name), VALID);
}

// Slots 0, 2, 5 and 9 hold GAME, PIC, ZERO and FJ; slots 1 and 3 entries a used slot cannot hold.
const Bytes CATALOGUED = build_raw_image({1, 8, 255,
    {{0, raw_entry('B', "GAME", 9, 49152, 1, 3, "Space Game")},
        {1, raw_entry('B', "\xE5GONE", 9, 0, 10)}, {3, raw_entry('\x7F', "OLD", 9, 0, 10)},
        {2, raw_entry('P', "PIC", 10, 0x4000, 129, 1, {"a\x01\x7F\x80z\0\x1F!", 8})},
        {5, raw_entry('B', "ZERO", 12, 0, 0, 6)}, {9, raw_entry('C', "FJ", 12, 0, 128)}},
    {}});
const std::string GAME_ROW =
                      "  1  B GAME      Space Game        49152 (C000h)      1 (0001h)  AL\n",
                  ZERO_ROW =
                      "  6  B ZERO                            0 (0000h)      0 (0000h)  A-\n";

struct CatalogueCase {
  const char* name;
  Args mask;
  std::string shown, listing;
};
PARAM_FIXTURE(CatalogueTest, E2eTest, CatalogueCase);

TEST_P(CatalogueTest, ListsMatchingSlots) {
  const CatalogueCase& c = GetParam();
  write_file("img.vem", CATALOGUED);
  expect_run(run(Args{"img.vem", "-c"} + c.mask),
      "Catalogue of 'img.vem', mask: '" + c.shown +
          "'\n\nIdx  T Name      Long name         Start           Size          AL\n" +
          std::string(67, '-') + "\n" + c.listing,
      "", 0);
  expect_bytes(read_file("img.vem"), CATALOGUED);
}

INSTANTIATE_TEST_SUITE_P(Image, CatalogueTest,
    ::testing::Values(
        CatalogueCase{"All", {}, "????????",
            GAME_ROW + "  3  P PIC       a   z  !          16384 (4000h)    129 (0081h)  -L\n" +
                ZERO_ROW +
                " 10  C FJ                              0 (0000h)    128 (0080h)  --\n"
                "\n0.5 kB in 4 file(s), 30.375 kB free\n"},
        CatalogueCase{"ByType", {"*.B"}, "????????.B",
            GAME_ROW + ZERO_ROW + "\n0.125 kB in 2 file(s), 30.375 kB free\n"},
        CatalogueCase{"NoMatch", {"NONE"}, "NONE", "\n0 kB in 0 file(s), 30.375 kB free\n"}),
    CaseName());

}  // namespace

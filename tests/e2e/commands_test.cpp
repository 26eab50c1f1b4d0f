// Every command's report, bytes and refusals, one row each, on images made
// without the tool; then the file commands' sequences and host files.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

#include "harness.h"

namespace {

using Slots = std::vector<std::pair<int, Bytes>>;
Bytes p(int size) { return pattern_bytes(size, size); }  // the host file hN.b
Bytes routine(int size) { return pattern_bytes(size, 7); }
std::string b(int size) { return "b" + std::to_string(size) + ".bin"; }  // a Booter
// A template as the target machine expects it: JP 7Fxxh, no custom start, a
// marker where the monitor goes.
Bytes make_template(int size) {
  Bytes bytes = pattern_bytes(size, 7).replace(0, 3, "\xC3\x10\x7F");
  return size < 33 ? bytes : bytes.replace(21, 12, "\xFF\xFF\x5A?TEMPLATE");
}
const std::string FITS(251, 'd'), TOO_LONG(252, 'd');  // A.B in them: paths of 255 and 256
const std::string TEMP = std::filesystem::temp_directory_path().string() + "/";

// `image` (none when empty, unless `make` gives it) is IMG.V before the run, `expected` after it
// (as before when empty, unchecked when ANY); `out` (unless "-") is the whole report. `make` and
// `made` stand in for the two when they are large. Host files: Booters bN.bin of N bytes, files
// hN.b, routines in rN/ (long/: 257 bytes), templates in tN/ and in ro/ (a folder only root may
// write), the read-only A.B, w/ for writes cut short by a size limit.
struct Row {
  const char* name;
  Bytes image;
  Args args;
  std::string out;
  std::string err;
  int status;
  Bytes expected = {};
  RunOptions options = {};
  Bytes (*make)() = nullptr, (*made)() = nullptr;
};
const Bytes ANY = "any";
PARAM_FIXTURE(CommandTest, E2eTest, Row);

TEST_P(CommandTest, ReportsAndLeavesTheImage) {
  const Row& c = GetParam();
  for (const int n : {100, 200, 256, 1000, 24576, 24577}) write_file(b(n), make_booter(n));
  for (const int n : {0, 1, 10, 29, 128, 129, 200, 700, 32513, 65279, 65535, 65536})
    write_file("h" + std::to_string(n) + ".b", p(n));
  for (const std::string& dir : Args{"r0", "r100", "r256", "long", "w", FITS, TOO_LONG})
    make_dir(dir);
  for (const int n : {0, 100, 256, 257})
    write_file((n == 257 ? "long" : "r" + std::to_string(n)) + "/unpckpsc.bin", routine(n));
  for (const int n : {32, 33, 100, 246, 247, 1}) {
    const std::string dir = n == 1 ? "ro" : "t" + std::to_string(n);
    make_dir(dir, n == 1 ? 0755 : 0777);
    write_file(dir + "/vem-ldr.bin", make_template(n == 1 ? 100 : n));
  }
  write_file("\xC3\xA9t\xC3\xA9.bin", "data");
  write_file("A.B", "old");
  ::chmod(path("A.B").c_str(), 0444);
  const auto others = [this] {  // every host file but the image
    Args names = list_dir();
    names.erase(std::remove(names.begin(), names.end(), "IMG.V"), names.end());
    return names;
  };
  const Args host_files = others();
  const Bytes before = c.make ? c.make() : c.image;
  const bool present = !before.empty() || c.make;
  if (present) write_file("IMG.V", before);
  if (present) give_to_nobody("IMG.V");
  RunResult result = run(Args{"IMG.V"} + c.args, c.options);
  // -ml names its temporary Loader file uniquely, and removes it.
  const std::regex temporary("Source file: ((\\S*vemldr)[A-Za-z0-9]{6})\n");
  std::smatch name;
  const bool made = std::regex_search(result.out, name, temporary);
  EXPECT_FALSE(made && std::filesystem::exists(std::filesystem::path(dir_) / name.str(1)));
  result.out = std::regex_replace(result.out, temporary, "Source file: $2XXXXXX\n");
  EXPECT_EQ(result.out, c.out != "-" ? out_with_banner(c.out) : result.out);
  EXPECT_EQ(result.err, c.err.empty() ? "" : err_line(c.err));
  EXPECT_EQ(result.status, c.status);
  const Bytes after = c.made ? c.made() : c.expected.empty() ? before : c.expected;
  if (after != ANY) expect_bytes(read_file("IMG.V"), after);
  EXPECT_EQ(exists("IMG.V"), present || c.args[0] == "-ic");
  EXPECT_EQ(others(), host_files);  // no side file, no extracted one
  EXPECT_EQ(read_file("A.B"), "old");
  EXPECT_EQ(list_dir("t100").size() + list_dir("ro").size() + list_dir(TOO_LONG).size(), 2u);
  EXPECT_EQ(list_dir(FITS), c.args.size() > 1 && c.args[1] == FITS + "/a*" ? Args{"A.B"} : Args{});
}

// 128 kB, a Booter of 200 bytes in two boot sectors, 32 slots: data from sector 10.
Bytes files(const Slots& slots = {}, const Slots& data = {}) {
  return build_raw_image({2, 8, 1023, slots, data, 200});
}
// A (300 bytes), B (50, long name, start, List) and C (10) in a row.
const Bytes A = raw_entry('B', "A", 10, 0, 300), B = raw_entry('B', "B", 13, 99, 50, 1, "bee"),
            ABC = files({{0, A}, {1, B}, {2, raw_entry('B', "C", 14, 0, 10)}},
                {{10, p(300)}, {13, p(50)}, {14, p(10)}});
// B.B in slot 0 at sector 40, A.B in slot 2 at sector 20: the gaps show that
// nothing is packed.
Bytes entry_a(int attributes) { return raw_entry('B', "A", 20, 0x100, 100, attributes, "old"); }
Bytes change(int old, const Bytes& changed = "") {
  return build_raw_image({1, 8, 255, {{0, raw_entry('B', "B", 40, 0, 10)}, {2, entry_a(old)}},
                             {{20, "data of A"}, {40, "data of B"}}})
      .replace(128 + 64, changed.size(), changed);
}
// Files FILEn.B of the given lengths, packed in slot order behind the directory.
Bytes packed(const std::vector<int>& lengths, int boot = 1, int dir = 8, int last = 4095) {
  RawImage image{boot, dir, last, {}, {}};
  for (int i = 0, sector = boot + dir; i < static_cast<int>(lengths.size()); ++i) {
    image.slots.push_back({i, raw_entry('B', "FILE" + std::to_string(i), sector, 0x100 * i,
                                  lengths[i], i % 4, "Long name " + std::to_string(i))});
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
// X.B (200 bytes) and, in slot 1, the Loader LDR.L made by "-ml ldr.l pic.p
// code.c" from a template of `size` bytes with these settings.
Bytes loader(int size, int flags, const Bytes& start = "\xFF\xFF",
    const Bytes& monitor = "?TEMPLATE", int attributes = 1) {
  return files({{0, raw_entry('B', "X", 10, 0, 200)},
                   {1, raw_entry('L', "LDR", 12, 0x7F00, size, attributes)}},
      {{10, p(200)}, {12, make_template(size).replace(3, 30,
                              "PPIC     CCODE    " + start + static_cast<char>(flags) + monitor)}});
}
const Bytes X = files({{0, raw_entry('B', "X", 10, 0, 200)}}, {{10, p(200)}});
const std::string NAMES =
                      "Creating and adding Loader file into image: LDR.L\nPicture file: "
                      "PIC.P\nCode file: CODE.C\n",
                  INFO =
                      "Loader file info: LDR.L\nDirectory index: 1\nLoader file size: 100 "
                      "bytes\nLoader load address: 32512 (7F00h)\nPicture file: PIC.P\nCode "
                      "file: CODE.C\n";
// The report of -ml up to the settings, then the add of a `size`-byte Loader from `dir`.
std::string making(const std::string& settings, int size = 100, const std::string& dir = "t100/",
    bool over = false) {
  return NAMES + settings + "\nAdding file: LDR.L\n" +
         (over ? "File already exist, will be overwritten.\n" : "") + "Source file: " + dir +
         "vemldrXXXXXX\n" + add_report("", size, 32512, "List\n") + "\n";
}
RunOptions from(const std::string& dir, bool as_nobody = false) {
  RunOptions options = as_nobody ? unprivileged() : RunOptions{};
  options.argv0 = dir + "/vemtool";
  return options;
}
const Args ML = {"-ml", "ldr.l", "pic.p", "code.c"}, LI = {"-li", "ldr.l"},
           IR = {"-ir", "-id", "16"};
const RawImage FAILING = {1, 8, 255,
    {{0, raw_entry('B', "A", 9, 0, 1, 0, std::string(16, '#'))},
        {1, raw_entry('B', "B", 10, 0, 200)}, {2, raw_entry('V', "IMG", 12, 0, 1)}},
    {}};
const Bytes VALID = packed({300}), FAILS = build_raw_image(FAILING),
            PAST = build_raw_image({1, 8, 255,
                {{0, raw_entry('B', "A", 250, 0, 1000)}, {1, raw_entry('B', "B", 9, 0, 1)}}});
Bytes patched(std::size_t at, const Bytes& bytes) {
  return Bytes(VALID).replace(at, bytes.size(), bytes);
}
const std::string BAD = "Invalid complex file name './", OPEN = "Can't open file '",
                  WRITE = "Can't write to the file '", TOO = "' is too long! Max length ",
                  BIG = "Source file './h65536.b" + TOO, INVALID = "Invalid file name/mask '",
                  FULL = "Disk full!", BEYOND = "Read beyond end of the file 'IMG.V'.",
                  BOOT_INVALID = "Invalid BOOT in VEM image!",
                  CREATING = "Creating VEM image: IMG.V\n",
                  RECONFIGURING = "Reconfiguring VEM image: IMG.V\n",
                  NOT_FIT =
                      "Current VEM content do not fit into new VEM geometry (size/directory/boot)!",
                  TO_4 = "  Directory items: 32 -> 4\n",
                  TO_32K = TO_4 + "  VEM image size: 512 kB -> 32 kB\n\n",
                  GAME_ROW =
                      "  1  B GAME      Space Game        49152 (C000h)      1 (0001h)  AL\n",
                  ZERO_ROW =
                      "  6  B ZERO                            0 (0000h)      0 (0000h)  A-\n",
                  HEADING =
                      "'\n\nIdx  T Name      Long name         Start           Size          AL\n" +
                      std::string(67, '-') + "\n";
// Slots 0, 2, 5 and 9 hold GAME, PIC, ZERO and FJ; slots 1 and 3 entries a used slot cannot hold.
const Bytes CATALOGUED = build_raw_image({1, 8, 255,
    {{0, raw_entry('B', "GAME", 9, 49152, 1, 3, "Space Game")},
        {1, raw_entry('B', "\xE5GONE", 9, 0, 10)}, {3, raw_entry('\x7F', "OLD", 9, 0, 10)},
        {2, raw_entry('P', "PIC", 10, 0x4000, 129, 1, {"a\x01\x7F\x80z\0\x1F!", 8})},
        {5, raw_entry('B', "ZERO", 12, 0, 0, 6)}, {9, raw_entry('C', "FJ", 12, 0, 128)}}});

INSTANTIATE_TEST_SUITE_P(Commands, CommandTest,
    ::testing::Values(
        // "None" is ended by the final newline; an empty file takes no sector.
        Row{"AddEmptyFile", files(), {"-fa", "h0.b"},
            "Adding file: H0.B\nSource file: ./h0.b\nLong name:                 \nSize: 0 bytes (0 "
            "sectors)\nStart: 0\nAttributes: None\n",
            "", 0, files({{0, raw_entry('B', "H0", 10, 0, 0)}})},
        Row{"AddAllRamBehindEmptyRoutine", files(), {"-fa", "h128.b", "-psc", "-ar"},
            "Adding file: H128.B\nSource file: ./h128.b\nUnpack routine inserted before file\nLong "
            "name:                 \nSize: 128 bytes (1 sectors)\nStart: 0\nAttributes: AllRAM\n\n",
            "", 0, files({{0, raw_entry('B', "H128", 10, 0, 128, 2)}}, {{10, p(128)}}), from("r0")},
        Row{"AddBothBehindRoutineStartKept", files(),
            {"-fa", "h29.b", "-psc", "-al", "-ar", "-sa", "65535"}, "-", "", 0,
            files({{0, raw_entry('B', "H29", 10, 65535, 129, 3)}}, {{10, routine(100) + p(29)}}),
            from("r100")},
        Row{"AddLargestRoutineAndFile", files(),
            {"-fa", "h65279.b", "-psc", "-ln", "0123456789abcdef"}, "-", "", 0,
            files({{0, raw_entry('B', "H65279", 10, 0, 65535, 0, "0123456789abcdef")}},
                {{10, routine(256) + p(65279)}}),
            from("r256")},
        Row{"ReplaceByLarger", ABC, {"-fr", "b.b", "h700.b"},
            "Replacing file: B.B\nSource file: ./h700.b\nNew size: 700 bytes (6 sectors)\n\n", "",
            0,
            files({{0, A}, {1, raw_entry('B', "B", 13, 99, 700, 1, "bee")},
                      {2, raw_entry('B', "C", 19, 0, 10)}},
                {{10, p(300)}, {13, p(700)}, {19, p(10)}})},
        Row{"DeleteByMask", ABC, {"-fd", "a*"},
            "Delete files by mask: A???????\n\nDeleting file: A.B\n\n1 file(s) deleted.\n\n", "", 0,
            files({{0, raw_entry('B', "B", 10, 99, 50, 1, "bee")},
                      {1, raw_entry('B', "C", 11, 0, 10)}},
                {{10, p(50)}, {11, p(10)}})},
        Row{"ChangeNameLongNameStartList", change(0),
            {"-fp", "a.b", "-fn", "c.d", "-ln", "new", "-sa", "0xabc", "-al"},
            "Changing parameters for file: A.B\nNew name: C.D\nNew long name: new             "
            "\nNew "
            "start: 2748 (0ABCh)\nNew attributes: List\n\n",
            "", 0, change(0, raw_entry('D', "C", 20, 0xABC, 100, 1, "new"))},
        Row{"ChangeBothToggled", change(1), {"-fp", "a.b", "-al", "-ar"},
            "Changing parameters for file: A.B\nNew attributes: AllRAM\n\n", "", 0,
            change(1, entry_a(2))},
        Row{"ChangeOtherBitsKeptNotNamed", change(5), {"-fp", "a.b", "-al"},
            "Changing parameters for file: A.B\nNew attributes: \n\n", "", 0,
            change(5, entry_a(4))},
        Row{"ExistingNameFileNotRead", FAILS, {"-fa", "gone/a.b"}, "-", "File 'A.B' alreday exist!",
            24},
        Row{"ReplaceMissingFile", FAILS, {"-fr", "Q.B", "a.bin"}, "-", "File 'Q.B' not exist!", 25},
        Row{"FileTooLong", FAILS, {"-fa", "h65536.b"}, "-", BIG + "65535 bytes.", 9},
        Row{"RoutineOf257", FAILS, {"-fa", "x.b", "-psc"}, "-",
            "Source file 'long/unpckpsc.bin" + TOO + "256 bytes.", 9, {}, from("long")},
        Row{"FileTooLongAfterRoutine", FAILS, {"-fa", "h65536.b", "-psc"}, "-",
            BIG + "65435 bytes.", 9, {}, from("r100")},
        Row{"UnstorableHostName", FAILS, {"-fa", "\xC3\xA9t\xC3\xA9.bin"}, "-",
            INVALID + "\xC3\xA9t\xC3\xA9.b' in option `-fa`", 22},
        Row{"UnstorableHostNameReplacesAFile", FAILS, {"-fr", "B.B", "\xC3\xA9t\xC3\xA9.bin"}, "-",
            "", 0, ANY},
        Row{"HighByteFirst", FAILS, {"-fp", "\xa0y.b", "-al"}, "-",
            INVALID + "\xa0y.b' in option `-fp`", 22},
        Row{"ComplexWildcardName", FAILS, {"-fc", "#2A__0_0.B"}, "-",
            "File name '*.B' in option `-fc` must be unambiguous!", 23},
        Row{"ComplexControlName", FAILS, {"-fc", "#01X__0_0.B"}, "-",
            INVALID + "\x01X.B' in option `-fc`", 22},
        Row{"RenameToExisting", FAILS, {"-fp", "A.B", "-fn", "b.b"}, "-",
            "File 'B.B' alreday exist!", 24},
        Row{"RenameToItself", FAILS, {"-fp", "A.B", "-fn", "a.b"}, "-", "File 'A.B' alreday exist!",
            24},
        Row{"ChangeMissingFile", FAILS, {"-fp", "Z.B", "-al"}, "-", "File 'Z.B' not exist!", 25},
        Row{"ReadOnlyHostFile", FAILS, {"-fx", "a*"}, "-", OPEN + "./A.B' for writing!", 12, {},
            unprivileged()},
        Row{"TargetPathOf255StillWritten", FAILS, {"-fx", FITS + "/a*"}, "-", "", 0},
        Row{"TargetPathOf256", FAILS, {"-fx", TOO_LONG + "/a*"}, "-",
            OPEN + TOO_LONG + "/A.B' for writing!", 12},
        Row{"ExtractedFileCutShort", FAILS, {"-fx", "w/b*"}, "-", WRITE + "w/B.B'!", 14, {},
            size_limited(100)},
        Row{"ListCutShort", FAILS, {"-fx", "w/a*", "-cfn", "-cfnl", "w/list.txt"}, "-",
            WRITE + "w/list.txt'!", 14, {}, size_limited(50)},
        Row{"ImageAsAnExtractedFile", FAILS, {"-fx", "i*"}, "-", OPEN + "./IMG.V' for writing!",
            12},
        Row{"ImageAsTheList", FAILS, {"-fx", "q*", "-cfnl", "IMG.V"}, "-",
            OPEN + "./IMG.V' for writing!", 12},
        Row{"ListAsAnExtractedFile", FAILS, {"-fx", "w/b*", "-cfnl", "w/B.B"},
            "Extracting files by mask: B???????\nTarget path: w/\nList file: w/B.B\n\nExtracting "
            "file: B.B\n",
            OPEN + "w/B.B' for writing!", 12},
        Row{"ExtractWithoutMatch", PAST, {"-fx", "q*"},
            "Extracting files by mask: Q???????\nTarget path: ./\n\nNo files found to extract by "
            "given "
            "mask!\n\n",
            "", 0},
        Row{"DeleteWithoutMatchWritesNothing", PAST, {"-fd", "q*"},
            "Delete files by mask: Q???????\n\nNo files found to delete by given mask!\n\n", "", 0},
        Row{"ExtractPastTheEnd", PAST, {"-fx", "a*"}, "-", BEYOND, 10},
        Row{"PackPastTheEnd", PAST, {"-fd", "b*"}, "-", BEYOND, 10},
        Row{"FreeSpaceBehindTheHighestFile",
            build_raw_image({1, 8, 255, {{0, raw_entry('B', "A", 255, 0, 1)}}}), {"-fa", "h1.b"},
            "-", FULL, 27},
        Row{"PackedFilesWouldNotFitRefusedBeforeTheReport", overlapping(8), {"-fa", "h1.b"},
            "Adding file: H1.B\nSource file: ./h1.b\n", FULL, 27},
        Row{"OneByteOver", packed({}, 1, 1, 255), {"-fa", "h32513.b"}, "-", FULL, 27},
        Row{"DiskAndDirectoryFull", packed({0, 0, 0, 32512}, 1, 1, 255), {"-fa", "h1.b"}, "-", FULL,
            27},
        Row{"ReplaceBySmallerOnFullDisk", packed({32512}, 1, 1, 255), {"-fr", "FILE0.B", "h700.b"},
            "-", "", 0, ANY},
        Row{"OverwriteInSameSectorsOnFullDisk", packed({100, 32384}, 1, 1, 255),
            {"-fa", "h128.b", "-fn", "FILE0.B", "-ow"}, "-", "", 0, ANY},
        Row{"OverwriteByLargerOnFullDisk", packed({100, 32384}, 1, 1, 255),
            {"-fa", "h129.b", "-fn", "FILE0.B", "-ow"}, "-", FULL, 27},
        Row{"CatalogueAll", CATALOGUED, {"-c"},
            ("Catalogue of 'IMG.V', mask: '????????" + HEADING + GAME_ROW +
                "  3  P PIC       a   z  !          16384 (4000h)    129 (0081h)  -L\n" + ZERO_ROW +
                " 10  C FJ                              0 (0000h)    128 (0080h)  --\n"
                "\n0.5 kB in 4 file(s), 30.375 kB free\n"),
            "", 0},
        Row{"CatalogueByType", CATALOGUED, {"-c", "*.B"},
            ("Catalogue of 'IMG.V', mask: '????????.B" + HEADING + GAME_ROW + ZERO_ROW +
                "\n0.125 kB in 2 file(s), 30.375 kB free\n"),
            "", 0},
        Row{"CreateWithNoCapacityLeft", "", {"-ic", "-ib", "b24576.bin", "-is", "32", "-id", "256"},
            CREATING +
                "VEM image size: 32 kB (256 sectors)\nVEM BOOT file: b24576.bin\nVEM Boot size: "
                "24576 bytes\nDirectory items: 256 (8192 bytes)\nCapacity: 0 kB (0 secotrs)\n\n",
            "", 0, no_capacity()},
        Row{"CreateLargestEndingInSector65535", VALID,
            {"-ic", "-ib", "b100.bin", "-is", "8192", "-id", "256"}, "-", "", 0, {}, {}, nullptr,
            [] {
              return build_raw_image({1, 64, 65535, {}, {}, 100});
            }},
        Row{"CreateDefaults", "", {"-ic", "-ib", "b1000.bin"}, "-", "", 0,
            build_raw_image({8, 8, 4095, {}, {}, 1000})},
        Row{"Info", build_raw_image({8, 8, 4095, {}, {}, 1000}), {"-ii"},
            "VEM image info: IMG.V\nVEM image size: 512 kB (4096 sectors)\nVEM BOOT size: 1024 "
            "bytes\nDirectory items: 32 (1024 bytes)\nCapacity: 510 kB (4080 secotrs)\n\nFiles: "
            "0\nUsed space: 0 kB\nFree space: 510 kB\n",
            "", 0},
        Row{"ReconfigureBootGrowsOneSector", packed({300, 0, 129}), {"-ir", "-ib", "b256.bin"},
            RECONFIGURING + "  New VEM BOOT file: b256.bin\n\nVEM image size: 512 kB (4096 "
                            "sectors)\nVEM BOOT size: 256 bytes\nDirectory items: 32 (1024 "
                            "bytes)\nCapacity: 510.75 kB (4086 secotrs)\n\n",
            "", 0, packed({300, 0, 129}, 2)},
        Row{"ReconfigureNoChange", packed({1}), {"-ir", "-is", "512", "-id", "32"},
            RECONFIGURING + "No changes in Image Geometry nor Boot code!\n\n", "", 0},
        Row{"ReconfigureBootCodeOnly", packed({300, 129}), {"-ir", "-ib", "b100.bin"},
            RECONFIGURING + "  New VEM BOOT file: b100.bin\n\n\n", "", 0,
            packed({300, 129}).replace(16, 112, make_booter(100).substr(16) + Bytes(28, '\xFF'))},
        Row{"ReconfigureItemsOnlyShrinksToDefaultSize", packed({300, 129}, 1, 8, 8191), IR, "-", "",
            0, packed({300, 129}, 1, 4)},
        Row{"ReconfigureExactFit", packed({25600, 6912}), {"-ir", "-is", "32", "-id", "4"}, "-", "",
            0, packed({25600, 6912}, 1, 1, 255)},
        Row{"ReconfigureOneSectorTooMany", packed({25600, 6913}), {"-ir", "-is", "32", "-id", "4"},
            RECONFIGURING + TO_32K, NOT_FIT, 28},
        Row{"ReconfigureOverlappingFilesCountTwice", overlapping(8),
            {"-ir", "-is", "32", "-id", "4"}, RECONFIGURING + TO_4 + "\n", NOT_FIT, 28},
        Row{"ReconfigureFewerItemsThanFiles", packed({1, 1, 1, 1, 1}), {"-ir", "-id", "4"},
            RECONFIGURING + TO_4 + "\n", NOT_FIT, 28},
        Row{"Missing", "", {"-ii"}, "VEM image info: IMG.V\n", OPEN + "IMG.V' for writing!", 12},
        Row{"ShorterThanHeader", VALID.substr(0, 15), {"-c"}, "", BEYOND, 10},
        Row{"Empty", {}, {"-c"}, "", BEYOND, 10, {}, {}, [] { return Bytes(); }},
        Row{"EndsInsideAFile", VALID.substr(0, 1280), IR,
            RECONFIGURING + "  Directory items: 32 -> 16\n\n", BEYOND, 10},
        Row{"WrongSignature", patched(2, "\x8D"), {"-ii"}, "VEM image info: IMG.V\n", BOOT_INVALID,
            21},
        Row{"WrongJumpOpcode", patched(9, "\xC9"), IR, RECONFIGURING, BOOT_INVALID, 21},
        Row{"NoBootSector", patched(12, Bytes(1, '\0')), IR, RECONFIGURING, BOOT_INVALID, 21},
        Row{"BootOver192Sectors", build_raw_image({193, 8, 4095}), IR, RECONFIGURING, BOOT_INVALID,
            21},
        Row{"DirectoryOver64Sectors", build_raw_image({1, 65, 4095}), {"-c"}, "", BOOT_INVALID, 21},
        Row{"AreasBeyondLastSector", patched(14, Bytes("\x07\0", 2)), IR, RECONFIGURING,
            BOOT_INVALID, 21},
        Row{"PackingThatCannotFit", overlapping(1), {"-fd", "SMALL.B"},
            "Delete files by mask: SMALL.B\n\nDeleting file: SMALL.B\n", FULL, 27},
        Row{"ReadOnlyForAWriter", VALID, {"-fd", "FILE0.B"}, "", OPEN + "IMG.V' for writing!", 12,
            {}, unprivileged(OTHER_USER)},
        Row{"CreateMissingBooter", VALID, {"-ic", "-ib", "none.bin"}, CREATING,
            "Can't open file 'none.bin' for reading!", 6},
        // A new image whose Booter is missing stays an empty file, as it always has.
        Row{"CreateNewMissingBooter", "", {"-ic", "-ib", "none.bin"}, CREATING,
            "Can't open file 'none.bin' for reading!", 6},
        Row{"CreateBooterTooLong", VALID, {"-ic", "-ib", "b24577.bin"}, CREATING,
            "Source file 'b24577.bin' is too long! Max length 24576 bytes.", 9},
        Row{"CreateWrongSignature", VALID, {"-ic", "-ib", "h200.b"}, CREATING,
            "Invalid BOOT binary file! 'h200.b'", 21},
        Row{"CreateOverReadOnlyImage", VALID, {"-ic", "-ib", "b200.bin"}, CREATING,
            "Can't access output file 'IMG.V' for writing!", 13, {}, unprivileged(OTHER_USER)},
        Row{"CreateCutShort", VALID, {"-ic", "-ib", "b200.bin"}, CREATING, WRITE + "IMG.V'!", 14,
            {}, size_limited(4096)},
        Row{"ReconfigureJournalCutShort", VALID, {"-ir", "-ib", "b100.bin"},
            RECONFIGURING + "  New VEM BOOT file: b100.bin\n\n", WRITE + "IMG.V.jnl'!", 14, {},
            size_limited(100)},
        Row{"ReconfigureCutShort", VALID, IR, RECONFIGURING + "  Directory items: 32 -> 16\n\n",
            WRITE + "IMG.V'!", 14, {}, size_limited(4096)},
        Row{"LastDirectorySlot", packed(std::vector<int>(255), 1, 64, 255), {"-fa", "h0.b"}, "-",
            "", 0,
            with(packed(std::vector<int>(255), 1, 64, 255), 255, raw_entry('B', "H0", 65, 0, 0))},
        Row{"DirectoryFull", packed(std::vector<int>(256), 1, 64, 255), {"-fa", "h0.b"}, "-",
            "Directory full!", 26},
        Row{"CapacityZeroTakesEmptyFile", no_capacity(), {"-fa", "h0.b"}, "-", "", 0,
            with(no_capacity(), 0, raw_entry('B', "H0", 256, 0, 0))},
        Row{"LargestBooter", build_raw_image({1, 64, 255}),
            {"-ir", "-ib", "b24576.bin", "-is", "32", "-id", "256"}, "-", "", 0, no_capacity()},
        Row{"LargestFileInLastSectors", "", {"-fa", "h65535.b"}, "-", "", 0, {}, {},
            [] { return full_largest(512); },
            [] {
              return with(full_largest(512), 127, raw_entry('B', "H65535", 65024, 0, 65535), 65024,
                  p(65535));
            }},
        Row{"LargestFileOneSectorShort", "", {"-fa", "h65535.b"}, "-", FULL, 27, {}, {},
            [] { return full_largest(511); }},
        Row{"EmptyFileIntoFullLargestImage", "", {"-fa", "h0.b"}, "-", "", 0, {}, {},
            [] { return full_largest(0); },
            [] { return with(full_largest(0), 128, raw_entry('B', "H0", 0, 0, 0)); }}),
    CaseName());

INSTANTIATE_TEST_SUITE_P(Loader, CommandTest,
    ::testing::Values(Row{"MakeLoader", X, ML, making(""), "", 0, loader(100, 0), from("t100")},
        Row{"MakeFromShortestTemplate", X, ML, making("", 33, "t33/"), "", 0, loader(33, 0),
            from("t33")},
        Row{"MakeFromLongestTemplate", X, ML + Args{"-scs"},
            making("CLS suppressed\n", 246, "t246/"), "", 0, loader(246, 8), from("t246")},
        Row{"CustomStartMonitor1NoInit", X, ML + Args{"-sa", "0", "-mon", "1X", "-scs"},
            making("Custom start: 0 (0000h)\nLoad Monitor: MONIT1.? (No Init)\nCLS suppressed\n"),
            "", 0, loader(100, 13, {0, 0}), from("t100")},
        Row{"InfoCustomStartMonitor1NoInit", loader(100, 13, {0, 0}), LI,
            INFO + "Code custom start: 0 (0000h)\nLoad Monitor: MONIT1.? (No Init)\nCLS "
                   "suppressed\n\n",
            "", 0},
        Row{"Monitor2", X, ML + Args{"-mon", "2", "-scs"},
            making("Load Monitor: MONIT2.?\nCLS suppressed\n"), "", 0, loader(100, 10),
            from("t100")},
        Row{"MonitorFile", X, ML + Args{"-mon", "game.m"}, making("Load Monitor: GAME.M\n"), "", 0,
            loader(100, 3, "\xFF\xFF", "MGAME    "), from("t100")},
        Row{"OverwriteInPlace", loader(100, 0), ML + Args{"-mon", "2X", "-ow"},
            making("Load Monitor: MONIT2.? (No Init)\n", 100, "t100/", true), "", 0, loader(100, 6),
            from("t100")},
        Row{"TemporaryFileInTheSystemFolder", X, ML, making("", 100, TEMP), "", 0, loader(100, 0),
            from("ro", true)},
        Row{"Info", loader(100, 0), LI, INFO + "\n", "", 0},
        Row{"InfoMonitor2", loader(100, 10), LI,
            INFO + "Load Monitor: MONIT2.?\nCLS suppressed\n\n", "", 0},
        Row{"InfoMonitorFile", loader(100, 3, "\xFF\xFF", "MGAME    "), LI,
            INFO + "Load Monitor: GAME.M\n\n", "", 0},
        Row{"TemplateTooShort", X, ML, "Creating and adding Loader file into image: LDR.L\n",
            "File 't32/vem-ldr.bin' is not valid standard Loader file!", 30, {}, from("t32")},
        Row{"TemplateTooLong", X, ML, "Creating and adding Loader file into image: LDR.L\n",
            "Source file 't247/vem-ldr.bin' is too long! Max length 246 bytes.", 9, {},
            from("t247")},
        Row{"LowerCaseMonitor1x", X, ML + Args{"-mon", "1x"}, "",
            "File name '1x' in option `-mon` must be unambiguous!", 23},
        Row{"NameTakenNoOverwrite", loader(100, 0), ML, NAMES + "\nAdding file: LDR.L\n",
            "File 'LDR.L' alreday exist!", 24, {}, from("t100")},
        Row{"InfoAfterAllRamToggled", loader(100, 0, "\xFF\xFF", "?TEMPLATE", 3), LI,
            "Loader file info: LDR.L\n", "File 'LDR.L' is not valid standard Loader file!", 30},
        Row{"InfoOnEmptyFile", files({{0, raw_entry('L', "LDR", 10, 32512, 0, 1)}}), LI,
            "Loader file info: LDR.L\n", "File 'LDR.L' is not valid standard Loader file!", 30},
        Row{"InfoOnMissingFile", X, LI, "Loader file info: LDR.L\n", "File 'LDR.L' not exist!",
            25}),
    CaseName());

using FileTest = E2eTest;

// The round trip: the extracted list, added to a new image, gives the same
// image; a host file that measures 0 (from /proc) is read to its end.
TEST_F(FileTest, ExtractedComplexNamesListRebuildsTheSameImage) {
  create_image("IMG.V");
  const std::pair<Args, std::string> files[] = {
      {{"0", "-fn", "A B.X", "-ln", "empty one"}, "A#20B_empty#20one_0_0.X"},
      {{"1", "-fn", "#H_1.*", "-sa", "0x4000", "-al"}, "#23H#5F1__16384_1.#2A"},
      {{"127", "-fn", "a/b.q", "-ln", "a/b_c#d:e *?|<>\"", "-ar"},
          "A#2FB_a#2Fb#5Fc#23d#3Ae#20#2A#3F#7C#3C#3E#22_0_2.Q"},
      {{"128", "-fn", "LONGNAM8.#", "-ln", "sixteen chars ok", "-sa", "65535", "-al", "-ar"},
          "LONGNAM8_sixteen#20chars#20ok_65535_3.#23"},
      {{"129", "-fn", "x_y.b"}, "X#5FY__0_0.B"}, {{"65535"}, "S65535__0_0.B"}};
  std::string list;
  for (const auto& [options, complex] : files) {
    write_file("s" + options[0] + ".b", p(std::stoi(options[0])));
    EXPECT_EQ(run(Args{"IMG.V", "-fa", "s" + options[0] + ".b"} +
                  Args(options.begin() + 1, options.end()))
                  .status,
        0);
    list += "./" + complex + "\n";
  }
  ASSERT_EQ(::symlink("/proc/version", path("ver.t").c_str()), 0);
  EXPECT_EQ(run({"IMG.V", "-fa", "./ver.t"}).status, 0);
  EXPECT_EQ(run({"IMG.V", "-fx", "*", "-cfn", "-cfnl", "list.txt"}).status, 0);
  EXPECT_EQ(read_file("list.txt"), list + "./VER__0_0.T\n");
  std::ifstream version("/proc/version");
  EXPECT_EQ(read_file("VER__0_0.T"), std::string(std::istreambuf_iterator<char>(version), {}));
  create_image("new.vem");
  EXPECT_EQ(run({"new.vem", "-fl", "list.txt"}).status, 0);
  expect_bytes(read_file("new.vem"), read_file("IMG.V"));
}

// Empty files added to a full image block no later change.
TEST_F(FileTest, EmptyFileAtTheEndOfAFullImageBlocksNoLaterChange) {
  create_image("IMG.V", 32, 4, 128);  // capacity 32768 - 128 - 128 bytes
  for (const char* name : {"empty.bin", "none.bin"}) write_file(name, "");
  write_file("big.bin", p(32512));
  write_file("big2.bin", pattern_bytes(32512, 2));
  for (const Args& args :
      std::vector<Args>{{"-fa", "big.bin"}, {"-fa", "empty.bin"}, {"-fa", "none.bin"},
          {"-fr", "BIG.B", "big2.bin"}, {"-ir", "-is", "64"}, {"-fx", "big.b"}}) {
    SCOPED_TRACE(args[0]);
    const RunResult result = run(Args{"IMG.V"} + args);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  expect_bytes(read_file("BIG.B"), pattern_bytes(32512, 2));
}

// A byte-order mark (Notepad's UTF-8) is skipped only at the start of the
// file; a list without a usable line does not open the image.
TEST_F(FileTest, ListSkipsBlankLinesAndStopsAtFailingLine) {
  create_image("IMG.V");
  make_dir("sub");
  write_file("A__0_0.B", "a");
  write_file("sub/B_bee_5_3.Q", "bb");
  const std::string bom = "\xEF\xBB\xBF";
  write_file(
      "list.txt", bom + "  A__0_0.B \r\n\n\t\n./sub/B_bee_5_3.Q\r\n" + bom + "bad.b\nC__0_0.B\n");
  expect_run(run({"IMG.V", "-fl", "list.txt"}),
      "Adding files from list stored in file: ./list.txt\n\nAdding file with complex name.\n"
      "Adding file: A.B\nSource file: A__0_0.B\n" +
          add_report("", 1) +
          "\n\n\nAdding file with complex name.\nAdding file: B.Q\nSource file: "
          "./sub/B_bee_5_3.Q\n" +
          add_report("bee", 2, 5, "List, AllRAM\n") + "\nAdding file with complex name.\n",
      "Invalid complex file name '" + bom + "bad.b'", 29);
  expect_bytes(read_file("IMG.V"),
      build_raw_image({2, 8, 4095,
          {{0, raw_entry('B', "A", 10, 0, 1)}, {1, raw_entry('Q', "B", 11, 5, 2, 3, "bee")}},
          {{10, "a"}, {11, "bb"}}, 200}));
  write_file("list.txt", " \n\n\t\r\n");
  expect_run(run({"none.vem", "-fl", "list.txt"}),
      "Adding files from list stored in file: ./list.txt\n\n\n\n\n\n", "", 0);
  EXPECT_FALSE(exists("none.vem"));
}

// Names no host file can carry: '/' of a stored name is written as #2F, a type
// '*' as "bin", and a file of length 0 empty (over an older one). An image
// whose name leaves no room for the name of its copy is kept.
TEST_F(FileTest, ExtractWritesNamesNoHostFileCanCarry) {
  make_dir("out");
  write_file("out/ZERO.B", "older");
  write_file("IMG.V",
      build_raw_image({1, 8, 255,
          {{0, raw_entry('B', "../../x", 9, 0, 3)}, {1, raw_entry('*', "STAR", 10, 0, 130)},
              {2, raw_entry('B', "ZERO", 12, 0, 0)}},
          {{9, "abc"}, {10, p(256)}}}));
  expect_run(run({"IMG.V", "-fx", "out/*", "-cfnl", "list.txt"}),
      "Extracting files by mask: ????????\nTarget path: out/\nList file: ./list.txt\n\n"
      "Extracting file: ..#2F..#2Fx.B\nExtracting file: STAR.*\nExtracting file: ZERO.B\n\n"
      "3 file(s) extracted.\n\n",
      "", 0);
  EXPECT_EQ(read_file("list.txt"), "./..#2F..#2Fx.B\n./STAR.*\n./ZERO.B\n");
  EXPECT_EQ(list_dir("out"), (Args{"..#2F..#2Fx.B", "STAR.bin", "ZERO.B"}));
  EXPECT_EQ(read_file("out/..#2F..#2Fx.B"), "abc");
  expect_bytes(read_file("out/STAR.bin"), p(256).substr(0, 130));
  EXPECT_EQ(read_file("out/ZERO.B"), "");
  const std::string name = std::string(248, 'n') + ".vem";
  write_file(name, VALID);
  expect_run(run({name, "-ir", "-id", "16"}),
      "Reconfiguring VEM image: " + name + "\n  Directory items: 32 -> 16\n\n",
      "Can't open file '" + name + ".tmp' for writing!", 12);
  expect_bytes(read_file(name), VALID);
}

}  // namespace

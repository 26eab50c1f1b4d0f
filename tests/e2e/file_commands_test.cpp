// End-to-end tests of the file commands: -fa -fr -fc -fl -fp -fd -fx.
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "harness.h"

namespace {

using Slots = std::vector<std::pair<int, Bytes>>;

// IMG.V: 512 kB, 32 slots, a Booter of 200 bytes in two boot sectors, so data
// from sector 10; as an 8.1 name, it can name a stored file too.
class FileTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    create_image("IMG.V");
  }
  // Writes `host` with patterned bytes (seeded by its size) and adds it.
  void add(const std::string& host, int size, const Args& options = {}) {
    write_file(host, pattern_bytes(size, size));
    EXPECT_EQ(run(Args{"IMG.V", "-fa", host} + options).status, 0) << host;
  }
  // What IMG.V holds with these entries and data.
  static Bytes expected_image(const Slots& slots, const Slots& data) {
    return build_raw_image({2, 8, 4095, slots, data, 200});
  }
};

// The round trip: the extracted list, added to a new image, gives the same
// image; a host file that measures 0 (from /proc) is read to its end.
TEST_F(FileTest, ExtractedComplexNamesListRebuildsTheSameImage) {
  const struct {
    const char* host;
    int size;
    Args options;
    std::string complex;
  } files[] = {
      {"e.bin", 0, {"-fn", "A B.X", "-ln", "empty one"}, "A#20B_empty#20one_0_0.X"},
      {"one.bin", 1, {"-fn", "#H_1.*", "-sa", "0x4000", "-al"}, "#23H#5F1__16384_1.#2A"},
      {"s127.bin", 127, {"-fn", "a/b.q", "-ln", "a/b_c#d:e *?|<>\"", "-ar"},
          "A#2FB_a#2Fb#5Fc#23d#3Ae#20#2A#3F#7C#3C#3E#22_0_2.Q"},
      {"s128.bin", 128,
          {"-fn", "LONGNAM8.#", "-ln", "sixteen chars ok", "-sa", "65535", "-al", "-ar"},
          "LONGNAM8_sixteen#20chars#20ok_65535_3.#23"},
      {"s129.bin", 129, {"-fn", "x_y.b"}, "X#5FY__0_0.B"},
      {"big.bin", 65535, {}, "BIG__0_0.B"},
  };
  std::string list;
  for (const auto& file : files) {
    add(file.host, file.size, file.options);
    list += "./" + file.complex + "\n";
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

// `routine` bytes (-1: none) lie in unpckpsc.bin beside the program, run as ./vemtool.
struct AddCase {
  const char* name;
  int routine, size;
  Args options;
  std::string long_name;
  int start, bits;
  std::string words;
};
PARAM_FIXTURE(AddTest, FileTest, AddCase);

TEST_P(AddTest, ReportsAndStoresTheEntry) {
  const AddCase& c = GetParam();
  const Bytes routine = pattern_bytes(c.routine < 0 ? 0 : c.routine, 7),
              host = pattern_bytes(c.size);
  write_file("unpckpsc.bin", routine);
  write_file("h.bin", host);
  const Bytes data = c.routine < 0 ? host : routine + host;
  const int size = static_cast<int>(data.size());
  expect_run(run(Args{"IMG.V", "-fa", "h.bin"} + c.options, invoked_as("./vemtool")),
      "Adding file: H.B\nSource file: ./h.bin\n" +
          std::string(c.routine < 0 ? "" : "Unpack routine inserted before file\n") +
          add_report(c.long_name, size, c.start, c.words) + "\n",
      "", 0);
  expect_bytes(read_file("IMG.V"),
      expected_image(
          {{0, raw_entry('B', "H", 10, c.start, size, c.bits, c.long_name)}}, {{10, data}}));
}

// "None" is ended by the final newline; an empty file takes no sector.
INSTANTIATE_TEST_SUITE_P(File, AddTest,
    ::testing::Values(AddCase{"NoAttributesEmptyFile", -1, 0, {}, "", 0, 0, "None"},
        AddCase{
            "List", -1, 1, {"-al", "-ln", "intro", "-sa", "0x4000"}, "intro", 16384, 1, "List\n"},
        AddCase{"AllRamBehindEmptyRoutine", 0, 128, {"-psc", "-ar"}, "", 0, 2, "AllRAM\n"},
        AddCase{"BothBehindRoutineStartKept", 100, 29, {"-psc", "-al", "-ar", "-sa", "65535"}, "",
            65535, 3, "List, AllRAM\n"},
        AddCase{"LargestRoutineAndFile", 256, 65279, {"-psc", "-ln", "0123456789abcdef"},
            "0123456789abcdef", 0, 0, "None"}),
    CaseName());

// A.B, B.B and C.B in a row: B.B's new data, first larger, then smaller,
// takes its place, and C.B follows it; once A.B is deleted, B.B and C.B
// are packed as if only they had been added.
TEST_F(FileTest, ReplacedFileKeepsItsPlaceDeletedOnesArePacked) {
  add("a.bin", 300);
  add("b.bin", 50, {"-ln", "bee", "-sa", "99", "-al"});
  add("c.bin", 10);
  write_file("700.bin", pattern_bytes(700));
  write_file("200.bin", pattern_bytes(200, 2));
  const std::pair<int, Bytes> a = {0, raw_entry('B', "A", 10, 0, 300)};
  const Slots a_data = {{10, pattern_bytes(300, 300)}};
  expect_run(run({"IMG.V", "-fr", "b.b", "700.bin"}),
      "Replacing file: B.B\nSource file: ./700.bin\nNew size: 700 bytes (6 sectors)\n\n", "", 0);
  expect_bytes(read_file("IMG.V"),
      expected_image(
          {a, {1, raw_entry('B', "B", 13, 99, 700, 1, "bee")}, {2, raw_entry('B', "C", 19, 0, 10)}},
          a_data + Slots{{13, pattern_bytes(700)}, {19, pattern_bytes(10, 10)}}));
  expect_run(run({"IMG.V", "-fa", "200.bin", "-fn", "B.B", "-ow", "-sa", "7", "-ar"}),
      "Adding file: B.B\nFile already exist, will be overwritten.\nSource file: ./200.bin\n" +
          add_report("", 200, 7, "AllRAM\n") + "\n",
      "", 0);
  expect_bytes(read_file("IMG.V"),
      expected_image(
          {a, {1, raw_entry('B', "B", 13, 7, 200, 2)}, {2, raw_entry('B', "C", 15, 0, 10)}},
          a_data + Slots{{13, pattern_bytes(200, 2)}, {15, pattern_bytes(10, 10)}}));
  expect_run(run({"IMG.V", "-fd", "a*"}),
      "Delete files by mask: A???????\n\nDeleting file: A.B\n\n1 file(s) deleted.\n\n", "", 0);
  expect_bytes(read_file("IMG.V"),
      expected_image({{0, raw_entry('B', "B", 10, 7, 200, 2)}, {1, raw_entry('B', "C", 12, 0, 10)}},
          {{10, pattern_bytes(200, 2)}, {12, pattern_bytes(10, 10)}}));
}

// Empty files added to a full image block no later change.
TEST_F(FileTest, EmptyFileAtTheEndOfAFullImageBlocksNoLaterChange) {
  create_image("IMG.V", 32, 4, 128);  // capacity 32768 - 128 - 128 bytes
  for (const char* name : {"empty.bin", "none.bin"}) write_file(name, "");
  write_file("big2.bin", pattern_bytes(32512, 2));
  add("big.bin", 32512);
  for (const Args& args : std::vector<Args>{{"-fa", "empty.bin"}, {"-fa", "none.bin"},
           {"-fr", "BIG.B", "big2.bin"}, {"-ir", "-is", "64"}, {"-fx", "big.b"}}) {
    SCOPED_TRACE(args[0]);
    const RunResult result = run(Args{"IMG.V"} + args);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  expect_bytes(read_file("BIG.B"), pattern_bytes(32512, 2));
}

const std::string FITS(251, 'd'), TOO_LONG(252, 'd');

// Every failure, and a few limits just within them. IMG.V (made without the
// tool: data from sector 9) holds A.B (long name of 16 '#', so a long complex
// name), B.B of 200 bytes and IMG.V; long/ and r100/ hold routines of 257
// and 100 bytes; the host file A.B is read-only; w/ takes writes cut short
// by a size limit; d...d/ makes a path to A.B of 255 characters with 251 d's
// and of 256 with 252. A failure leaves the image and host files as they
// were; `out` (when given) is the whole report.
struct FailureCase {
  const char* name;
  Args args;
  std::string error;
  int status;
  RunOptions options = {};
  RawImage image = {1, 8, 255,
      {{0, raw_entry('B', "A", 9, 0, 1, 0, std::string(16, '#'))},
          {1, raw_entry('B', "B", 10, 0, 200)}, {2, raw_entry('V', "IMG", 12, 0, 1)}},
      {}};
  const char* out = nullptr;
};
PARAM_FIXTURE(FailureTest, E2eTest, FailureCase);

TEST_P(FailureTest, LeavesTheImageUnchanged) {
  const FailureCase& c = GetParam();
  const Bytes image = build_raw_image(c.image);
  write_file("IMG.V", image);
  for (const std::string& dir : Args{"long", "r100", "w", FITS, TOO_LONG}) make_dir(dir);
  write_file("long/unpckpsc.bin", Bytes(257, 'r'));
  write_file("r100/unpckpsc.bin", Bytes(100, 'r'));
  for (const int size : {65536, 32513, 1, 100, 128, 129})
    write_file(std::to_string(size) + ".b", Bytes(size, 'h'));
  write_file("\xC3\xA9t\xC3\xA9.bin", "data");
  write_file("A.B", "old");
  ::chmod(path("A.B").c_str(), 0444);
  give_to_nobody("IMG.V");
  const RunResult result = run(Args{"IMG.V"} + c.args, c.options);
  EXPECT_EQ(result.out, c.out != nullptr ? out_with_banner(c.out) : result.out);
  EXPECT_EQ(result.err, c.error.empty() ? "" : err_line(c.error));
  EXPECT_EQ(result.status, c.status);
  if (c.status != 0 || c.out != nullptr) expect_bytes(read_file("IMG.V"), image);
  EXPECT_EQ(read_file("A.B"), "old");
  EXPECT_EQ(read_file("B.B"), "");
  EXPECT_EQ(list_dir(FITS), c.args[1] == FITS + "/a*" ? Args{"A.B"} : Args{});
  EXPECT_EQ(list_dir(TOO_LONG), Args{});
}

// A 32 kB image with 4 slots and one boot sector has room for 254 sectors:
// stored files of 32512 bytes fit exactly.
RawImage files_of(const std::vector<int>& lengths, int first = 2) {
  RawImage image{1, 1, 255, {}, {}};
  for (std::size_t i = 0; i < lengths.size(); ++i) {
    image.slots.push_back({int(i), raw_entry('B', "F" + std::to_string(i), first, 0, lengths[i])});
    first += (lengths[i] + 127) / 128;
  }
  return image;
}
const Bytes SHARED = raw_entry('B', "S", 9, 0, 25600);
const std::string BAD = "Invalid complex file name './", OPEN = "Can't open file '",
                  WRITE = "Can't write to the file '", TOO = "' is too long! Max length ",
                  BIG = "Source file './65536.b" + TOO, INVALID = "Invalid file name/mask '",
                  FULL = "Disk full!", BEYOND = "Read beyond end of the file 'IMG.V'.";
const RawImage PAST = {
    1, 8, 255, {{0, raw_entry('B', "A", 250, 0, 1000)}, {1, raw_entry('B', "B", 9, 0, 1)}}, {}};
INSTANTIATE_TEST_SUITE_P(File, FailureTest,
    ::testing::Values(FailureCase{"ExistingNameFileNotRead", {"-fa", "gone/a.b"},
                          "File 'A.B' alreday exist!", 24},
        FailureCase{"ReplaceMissingFile", {"-fr", "Q.B", "a.bin"}, "File 'Q.B' not exist!", 25},
        FailureCase{"FileTooLong", {"-fa", "65536.b"}, BIG + "65535 bytes.", 9},
        FailureCase{"RoutineOf257", {"-fa", "x.b", "-psc"},
            "Source file 'long/unpckpsc.bin" + TOO + "256 bytes.", 9, invoked_as("long/vemtool")},
        FailureCase{"FileTooLongAfterRoutine", {"-fa", "65536.b", "-psc"}, BIG + "65435 bytes.", 9,
            invoked_as("r100/vemtool")},
        FailureCase{"UnstorableHostName", {"-fa", "\xC3\xA9t\xC3\xA9.bin"},
            INVALID + "\xC3\xA9t\xC3\xA9.b' in option `-fa`", 22},
        FailureCase{
            "UnstorableHostNameReplacesAFile", {"-fr", "B.B", "\xC3\xA9t\xC3\xA9.bin"}, "", 0},
        FailureCase{
            "HighByteFirst", {"-fp", "\xa0y.b", "-al"}, INVALID + "\xa0y.b' in option `-fp`", 22},
        FailureCase{"ComplexWithoutFields", {"-fc", "GAME.B"}, BAD + "GAME.B'", 29},
        FailureCase{"ComplexWildcardName", {"-fc", "#2A__0_0.B"},
            "File name '*.B' in option `-fc` must be unambiguous!", 23},
        FailureCase{
            "ComplexControlName", {"-fc", "#01X__0_0.B"}, INVALID + "\x01X.B' in option `-fc`", 22},
        FailureCase{
            "RenameToExisting", {"-fp", "A.B", "-fn", "b.b"}, "File 'B.B' alreday exist!", 24},
        FailureCase{
            "RenameToItself", {"-fp", "A.B", "-fn", "a.b"}, "File 'A.B' alreday exist!", 24},
        FailureCase{"ChangeMissingFile", {"-fp", "Z.B", "-al"}, "File 'Z.B' not exist!", 25},
        FailureCase{
            "ReadOnlyHostFile", {"-fx", "a*"}, OPEN + "./A.B' for writing!", 12, unprivileged()},
        FailureCase{"TargetPathOf255StillWritten", {"-fx", FITS + "/a*"}, "", 0},
        FailureCase{"TargetPathOf256", {"-fx", TOO_LONG + "/a*"},
            OPEN + TOO_LONG + "/A.B' for writing!", 12},
        FailureCase{
            "ExtractedFileCutShort", {"-fx", "w/b*"}, WRITE + "w/B.B'!", 14, size_limited(100)},
        FailureCase{"ListCutShort", {"-fx", "w/a*", "-cfn", "-cfnl", "w/list.txt"},
            WRITE + "w/list.txt'!", 14, size_limited(50)},
        FailureCase{"ImageAsAnExtractedFile", {"-fx", "i*"}, OPEN + "./IMG.V' for writing!", 12},
        FailureCase{
            "ImageAsTheList", {"-fx", "q*", "-cfnl", "IMG.V"}, OPEN + "./IMG.V' for writing!", 12},
        FailureCase{"ListAsAnExtractedFile", {"-fx", "./b*", "-cfnl", "./B.B"},
            OPEN + "./B.B' for writing!", 12},
        FailureCase{"ExtractWithoutMatch", {"-fx", "q*"}, "", 0, {}, PAST,
            "Extracting files by mask: Q???????\nTarget path: ./\n\n"
            "No files found to extract by given mask!\n\n"},
        FailureCase{"DeleteWithoutMatchWritesNothing", {"-fd", "q*"}, "", 0, {}, PAST,
            "Delete files by mask: Q???????\n\nNo files found to delete by given mask!\n\n"},
        FailureCase{"ExtractPastTheEnd", {"-fx", "a*"}, BEYOND, 10, {}, PAST},
        FailureCase{"PackPastTheEnd", {"-fd", "b*"}, BEYOND, 10, {}, PAST},
        FailureCase{"FreeSpaceBehindTheHighestFile", {"-fa", "1.b"}, FULL, 27, {},
            {1, 8, 255, {{0, raw_entry('B', "A", 255, 0, 1)}}, {}}},
        FailureCase{"PackedFilesWouldNotFit", {"-fa", "1.b"}, FULL, 27, {},
            {1, 8, 255, {{0, SHARED}, {1, SHARED}}, {}}, "Adding file: 1.B\nSource file: ./1.b\n"},
        FailureCase{"OneByteOver", {"-fa", "32513.b"}, FULL, 27, {}, files_of({})},
        FailureCase{"BothFull", {"-fa", "1.b"}, FULL, 27, {}, files_of({0, 0, 0, 32512})},
        FailureCase{
            "ReplaceBySmallerOnFullDisk", {"-fr", "F0.B", "100.b"}, "", 0, {}, files_of({32512})},
        FailureCase{"OverwriteInSameSectorsOnFullDisk", {"-fa", "128.b", "-fn", "F0.B", "-ow"}, "",
            0, {}, files_of({100, 32384})},
        FailureCase{"OverwriteByLargerOnFullDisk", {"-fa", "129.b", "-fn", "F0.B", "-ow"}, FULL, 27,
            {}, files_of({100, 32384})}),
    CaseName());

// A byte-order mark (Notepad's UTF-8) is skipped only at the start of the file.
TEST_F(FileTest, ListSkipsBlankLinesAndStopsAtFailingLine) {
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
  expect_bytes(read_file("IMG.V"), expected_image({{0, raw_entry('B', "A", 10, 0, 1)},
                                                      {1, raw_entry('Q', "B", 11, 5, 2, 3, "bee")}},
                                       {{10, "a"}, {11, "bb"}}));
  write_file("list.txt", " \n\n\t\r\n");  // no usable line: the image is not opened
  expect_run(run({"none.vem", "-fl", "list.txt"}),
      "Adding files from list stored in file: ./list.txt\n\n\n\n\n\n", "", 0);
  EXPECT_FALSE(exists("none.vem"));
}

// B.B in slot 0 at sector 40, A.B in slot 2 at sector 20: the gaps show that
// nothing is packed.
struct ChangeCase {
  const char* name;
  int old;
  Args options;
  std::string report;
  Bytes changed;
};
PARAM_FIXTURE(ChangeTest, E2eTest, ChangeCase);

Bytes entry_a(int attributes) { return raw_entry('B', "A", 20, 0x100, 100, attributes, "old"); }

TEST_P(ChangeTest, RewritesOnlyTheEntry) {
  const ChangeCase& c = GetParam();
  Bytes image =
      build_raw_image({1, 8, 255, {{0, raw_entry('B', "B", 40, 0, 10)}, {2, entry_a(c.old)}},
          {{20, "data of A"}, {40, "data of B"}}});
  write_file("IMG.V", image);
  expect_run(run(Args{"IMG.V", "-fp", "a.b"} + c.options),
      "Changing parameters for file: A.B\n" + c.report + "\n", "", 0);
  expect_bytes(read_file("IMG.V"), image.replace(128 + 2 * 32, 32, c.changed));
}

INSTANTIATE_TEST_SUITE_P(File, ChangeTest,
    ::testing::Values(
        ChangeCase{"NameLongNameStartListSet", 0,
            {"-fn", "c.d", "-ln", "new", "-sa", "0xabc", "-al"},
            "New name: C.D\nNew long name: new             \nNew start: 2748 (0ABCh)\n"
            "New attributes: List\n",
            raw_entry('D', "C", 20, 0xABC, 100, 1, "new")},
        ChangeCase{"BothToggled", 1, {"-al", "-ar"}, "New attributes: AllRAM\n", entry_a(2)},
        ChangeCase{"OtherBitsKeptNotNamed", 5, {"-al"}, "New attributes: \n", entry_a(4)}),
    CaseName());

// Names no host file can carry: '/' of a stored name is written as #2F, a type
// '*' as "bin", and a file of length 0 empty (over an older one).
TEST_F(FileTest, ExtractWritesNamesNoHostFileCanCarry) {
  make_dir("out");
  write_file("out/ZERO.B", "older");
  const Bytes image = build_raw_image({1, 8, 255,
      {{0, raw_entry('B', "../../x", 9, 0, 3)}, {1, raw_entry('*', "STAR", 10, 0, 130)},
          {2, raw_entry('B', "ZERO", 12, 0, 0)}},
      {{9, "abc"}, {10, pattern_bytes(256)}}});
  write_file("IMG.V", image);
  expect_run(run({"IMG.V", "-fx", "out/*", "-cfnl", "list.txt"}),
      "Extracting files by mask: ????????\nTarget path: out/\nList file: ./list.txt\n\n"
      "Extracting file: ..#2F..#2Fx.B\nExtracting file: STAR.*\nExtracting file: ZERO.B\n\n"
      "3 file(s) extracted.\n\n",
      "", 0);
  EXPECT_EQ(read_file("list.txt"), "./..#2F..#2Fx.B\n./STAR.*\n./ZERO.B\n");
  EXPECT_EQ(list_dir("out"), (Args{"..#2F..#2Fx.B", "STAR.bin", "ZERO.B"}));
  EXPECT_EQ(read_file("out/..#2F..#2Fx.B"), "abc");
  expect_bytes(read_file("out/STAR.bin"), pattern_bytes(130));
  EXPECT_EQ(read_file("out/ZERO.B"), "");
  expect_bytes(read_file("IMG.V"), image);
}

}  // namespace

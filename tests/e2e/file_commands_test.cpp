// End-to-end tests of the file commands: -fa -fr -fc -fl -fp -fd -fx.
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
  // Writes `host` with patterned bytes (seeded by size and name length) and adds it.
  void add(const std::string& host, int size, const Args& options = {}) {
    write_file(host, host_bytes(host, size));
    EXPECT_EQ(run(Args{"IMG.V", "-fa", host} + options).status, 0) << host;
  }
  static Bytes host_bytes(const std::string& host, int size) {
    return pattern_bytes(size, size + static_cast<int>(host.size()));
  }
  // IMG.V made without the tool: one boot sector, 32 slots, data from sector 9.
  Bytes write_raw(const Slots& slots, const Slots& data = {}) {
    write_file("IMG.V", build_raw_image({1, 8, 255, slots, data}));
    return read_file("IMG.V");
  }
  // What IMG.V holds with these entries and data.
  static Bytes expected_image(const Slots& slots, const Slots& data) {
    return build_raw_image({2, 8, 4095, slots, data, 200});
  }
  // Runs `args` on IMG.V, which must stay byte for byte as it was; `error` empty: none.
  RunResult expect_unchanged(
      const Args& args, const std::string& error, int status, const RunOptions& options = {}) {
    const Bytes before = read_file("IMG.V");
    const RunResult result = run(Args{"IMG.V"} + args, options);
    EXPECT_EQ(result.err, error.empty() ? "" : err_line(error));
    EXPECT_EQ(result.status, status);
    expect_bytes(read_file("IMG.V"), before);
    return result;
  }
};

// The round trip: the extracted list, added to a new image, gives the same image.
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
  EXPECT_EQ(run({"IMG.V", "-fx", "*", "-cfn", "-cfnl", "list.txt"}).status, 0);
  EXPECT_EQ(read_file("list.txt"), list);
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

INSTANTIATE_TEST_SUITE_P(File, AddTest,
    ::testing::Values(
        // "None" is ended by the final newline; an empty file takes no sector.
        AddCase{"NoAttributesEmptyFile", -1, 0, {}, "", 0, 0, "None"},
        AddCase{
            "List", -1, 1, {"-al", "-ln", "intro", "-sa", "0x4000"}, "intro", 16384, 1, "List\n"},
        AddCase{"AllRamBehindEmptyRoutine", 0, 128, {"-psc", "-ar"}, "", 0, 2, "AllRAM\n"},
        AddCase{"BothBehindRoutineStartKept", 100, 29, {"-psc", "-al", "-ar", "-sa", "65535"}, "",
            65535, 3, "List, AllRAM\n"},
        AddCase{"LargestRoutineAndFile", 256, 65279, {"-psc", "-ln", "0123456789abcdef"},
            "0123456789abcdef", 0, 0, "None"}),
    CaseName());

// A.B, B.B and C.B in a row: B.B's new data, first larger, then smaller,
// takes its place, and C.B follows it.
TEST_F(FileTest, ReplacedFileKeepsItsPlace) {
  add("a.bin", 300);
  add("b.bin", 50, {"-ln", "bee", "-sa", "99", "-al"});
  add("c.bin", 10);
  write_file("700.bin", pattern_bytes(700));
  write_file("200.bin", pattern_bytes(200, 2));
  const std::pair<int, Bytes> a = {0, raw_entry('B', "A", 10, 0, 300)};
  expect_run(run({"IMG.V", "-fr", "b.b", "700.bin"}),
      "Replacing file: B.B\nSource file: ./700.bin\nNew size: 700 bytes (6 sectors)\n\n", "", 0);
  expect_bytes(read_file("IMG.V"),
      expected_image(
          {a, {1, raw_entry('B', "B", 13, 99, 700, 1, "bee")}, {2, raw_entry('B', "C", 19, 0, 10)}},
          {{10, host_bytes("a.bin", 300)}, {13, pattern_bytes(700)},
              {19, host_bytes("c.bin", 10)}}));
  expect_run(run({"IMG.V", "-fa", "200.bin", "-fn", "B.B", "-ow", "-sa", "7", "-ar"}),
      "Adding file: B.B\nFile already exist, will be overwritten.\nSource file: ./200.bin\n" +
          add_report("", 200, 7, "AllRAM\n") + "\n",
      "", 0);
  expect_bytes(read_file("IMG.V"), expected_image({a, {1, raw_entry('B', "B", 13, 7, 200, 2)},
                                                      {2, raw_entry('B', "C", 15, 0, 10)}},
                                       {{10, host_bytes("a.bin", 300)}, {13, pattern_bytes(200, 2)},
                                           {15, host_bytes("c.bin", 10)}}));
}

// A 32 kB image with 4 slots and one boot sector has room for 254 sectors:
// stored files of 32512 bytes fit exactly. Status 0: the command succeeds.
struct SpaceCase {
  const char* name;
  std::vector<int> stored;
  Args command;
  int size, status;
  std::string error;
};
PARAM_FIXTURE(SpaceTest, FileTest, SpaceCase);

TEST_P(SpaceTest, AddChecksDiskAndDirectory) {
  const SpaceCase& c = GetParam();
  create_image("IMG.V", 32, 4, 128);
  for (std::size_t i = 0; i < c.stored.size(); ++i)
    add("f" + std::to_string(i) + ".bin", c.stored[i]);
  write_file("new.bin", pattern_bytes(c.size));
  if (c.status != 0) {
    expect_unchanged(c.command, c.error, c.status);
  } else {
    EXPECT_EQ(run(Args{"IMG.V"} + c.command).status, 0);
  }
}

const Args OVERWRITE_F0 = {"-fa", "new.bin", "-fn", "F0.B", "-ow"};
INSTANTIATE_TEST_SUITE_P(File, SpaceTest,
    ::testing::Values(SpaceCase{"OneByteOver", {}, {"-fa", "new.bin"}, 32513, 27, "Disk full!"},
        SpaceCase{"BothFull", {0, 0, 0, 32512}, {"-fa", "new.bin"}, 1, 27, "Disk full!"},
        SpaceCase{"ReplaceBySmallerOnFullDisk", {32512}, {"-fr", "F0.B", "new.bin"}, 100, 0, ""},
        SpaceCase{"OverwriteInSameSectorsOnFullDisk", {100, 32384}, OVERWRITE_F0, 128, 0, ""},
        SpaceCase{
            "OverwriteByLargerOnFullDisk", {100, 32384}, OVERWRITE_F0, 129, 27, "Disk full!"}),
    CaseName());

const std::string FITS(251, 'd'), TOO_LONG(252, 'd');

// IMG.V holds A.B (long name of 16 '#', so a long complex name), B.B of 200
// bytes and IMG.V; long/ and r100/ hold routines of 257 and 100 bytes; the
// host file A.B is read-only; w/ takes writes cut short by a size limit;
// d...d/ makes a path to A.B of 255 characters with 251 d's and of 256 with 252.
class FailureTest : public FileTest,
                    public ::testing::WithParamInterface<
                        std::tuple<const char*, Args, std::string, int, RunOptions>> {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    write_raw({{0, raw_entry('B', "A", 9, 0, 1, 0, std::string(16, '#'))},
        {1, raw_entry('B', "B", 10, 0, 200)}, {2, raw_entry('V', "IMG", 12, 0, 1)}});
    write_file("big.bin", Bytes(65536, 'x'));
    for (const std::string& dir : Args{"long", "r100", "w", FITS, TOO_LONG}) make_dir(dir);
    write_file("long/unpckpsc.bin", Bytes(257, 'r'));
    write_file("r100/unpckpsc.bin", Bytes(100, 'r'));
    write_file("A.B", "old");
    make_read_only("A.B");
    give_to_nobody("IMG.V");
  }
};

TEST_P(FailureTest, LeavesTheImageUnchanged) {
  const auto& [name, args, error, status, options] = GetParam();
  const Args host_files = list_dir();
  expect_unchanged(args, error, status, options);
  EXPECT_EQ(list_dir(), host_files);
  EXPECT_EQ(read_file("A.B"), "old");
  EXPECT_EQ(list_dir(FITS), status == 0 ? Args{"A.B"} : Args{});
  EXPECT_EQ(list_dir(TOO_LONG), Args{});
}

const std::string BAD = "Invalid complex file name './", OPEN = "Can't open file '",
                  WRITE = "Can't write to the file '", TOO = "' is too long! Max length ",
                  BIG = "Source file './big.bin" + TOO, INVALID = "Invalid file name/mask '";
std::tuple<const char*, Args, std::string, int, RunOptions> failure(const char* name,
    const Args& args, const std::string& error, int status, const RunOptions& options = {}) {
  return {name, args, error, status, options};
}
INSTANTIATE_TEST_SUITE_P(File, FailureTest,
    ::testing::Values(
        failure("ExistingNameFileNotRead", {"-fa", "gone/a.b"}, "File 'A.B' alreday exist!", 24),
        failure("ReplaceMissingFile", {"-fr", "Q.B", "a.bin"}, "File 'Q.B' not exist!", 25),
        failure("FileTooLong", {"-fa", "big.bin"}, BIG + "65535 bytes.", 9),
        failure("RoutineOf257", {"-fa", "x.b", "-psc"},
            "Source file 'long/unpckpsc.bin" + TOO + "256 bytes.", 9, invoked_as("long/vemtool")),
        failure("FileTooLongAfterRoutine", {"-fa", "big.bin", "-psc"}, BIG + "65435 bytes.", 9,
            invoked_as("r100/vemtool")),
        failure(
            "HighByteFirst", {"-fp", "\xa0y.b", "-al"}, INVALID + "\xa0y.b' in option `-fp`", 22),
        failure("ComplexWithoutFields", {"-fc", "GAME.B"}, BAD + "GAME.B'", 29),
        failure("ComplexWildcardName", {"-fc", "#2A__0_0.B"},
            "File name '*.B' in option `-fc` must be unambiguous!", 23),
        failure(
            "ComplexControlName", {"-fc", "#01X__0_0.B"}, INVALID + "\x01X.B' in option `-fc`", 22),
        failure("RenameToExisting", {"-fp", "A.B", "-fn", "b.b"}, "File 'B.B' alreday exist!", 24),
        failure("RenameToItself", {"-fp", "A.B", "-fn", "a.b"}, "File 'A.B' alreday exist!", 24),
        failure("ChangeMissingFile", {"-fp", "Z.B", "-al"}, "File 'Z.B' not exist!", 25),
        failure(
            "ReadOnlyHostFile", {"-fx", "a*"}, OPEN + "./A.B' for writing!", 12, unprivileged()),
        failure("TargetPathOf255StillWritten", {"-fx", FITS + "/a*"}, "", 0),
        failure("TargetPathOf256", {"-fx", TOO_LONG + "/a*"},
            OPEN + TOO_LONG + "/A.B' for writing!", 12),
        failure("ExtractedFileCutShort", {"-fx", "w/b*"}, WRITE + "w/B.B'!", 14, size_limited(100)),
        failure("ListCutShort", {"-fx", "w/a*", "-cfn", "-cfnl", "w/list.txt"},
            WRITE + "w/list.txt'!", 14, size_limited(50)),
        failure("ImageAsAnExtractedFile", {"-fx", "i*"}, OPEN + "./IMG.V' for writing!", 12),
        failure(
            "ImageAsTheList", {"-fx", "q*", "-cfnl", "IMG.V"}, OPEN + "./IMG.V' for writing!", 12)),
    [](const auto& info) { return std::string(std::get<0>(info.param)); });

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
}

TEST_F(FileTest, ListWithoutUsableLineDoesNotOpenTheImage) {
  write_file("list.txt", " \n\n\t\r\n");
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
PARAM_FIXTURE(ChangeTest, FileTest, ChangeCase);

Bytes entry_a(int attributes) { return raw_entry('B', "A", 20, 0x100, 100, attributes, "old"); }

TEST_P(ChangeTest, RewritesOnlyTheEntry) {
  const ChangeCase& c = GetParam();
  Bytes expected = write_raw({{0, raw_entry('B', "B", 40, 0, 10)}, {2, entry_a(c.old)}},
      {{20, "data of A"}, {40, "data of B"}});
  expect_run(run(Args{"IMG.V", "-fp", "a.b"} + c.options),
      "Changing parameters for file: A.B\n" + c.report + "\n", "", 0);
  expect_bytes(read_file("IMG.V"), expected.replace(128 + 2 * 32, 32, c.changed));
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

// What remains is packed as if only it had been added.
TEST_F(FileTest, DeleteByMaskPacksTheRest) {
  add("a1.bin", 200);
  add("b.bin", 100, {"-al"});
  add("a2.bin", 300);
  expect_run(run({"IMG.V", "-fd", "a*"}),
      "Delete files by mask: A???????\n\nDeleting file: A1.B\nDeleting file: A2.B\n\n"
      "2 file(s) deleted.\n\n",
      "", 0);
  expect_bytes(read_file("IMG.V"),
      expected_image({{0, raw_entry('B', "B", 10, 0, 100, 1)}}, {{10, host_bytes("b.bin", 100)}}));
}

// Names no host file can carry: '/' of a stored name is written as #2F, a type
// '*' as "bin", and a file of length 0 empty (over an older one).
const Slots PLAIN = {{0, raw_entry('B', "../../x", 9, 0, 3)},
    {1, raw_entry('*', "STAR", 10, 0, 130)}, {2, raw_entry('B', "ZERO", 12, 0, 0)}};
const Slots MADE_DATA = {{9, "abc"}, {10, pattern_bytes(256)}};

TEST_F(FileTest, ExtractWritesNamesNoHostFileCanCarry) {
  make_dir("out");
  write_file("out/ZERO.B", "older");
  write_raw(PLAIN, MADE_DATA);
  EXPECT_EQ(expect_unchanged({"-fx", "out/*", "-cfnl", "list.txt"}, "", 0).out,
      out_with_banner("Extracting files by mask: ????????\nTarget path: out/\nList file: "
                      "./list.txt\n\nExtracting file: ..#2F..#2Fx.B\nExtracting file: "
                      "STAR.*\nExtracting file: ZERO.B\n\n3 file(s) extracted.\n\n"));
  EXPECT_EQ(read_file("list.txt"), "./..#2F..#2Fx.B\n./STAR.*\n./ZERO.B\n");
  EXPECT_EQ(list_dir("out"), (Args{"..#2F..#2Fx.B", "STAR.bin", "ZERO.B"}));
  expect_bytes(read_file("out/..#2F..#2Fx.B"), "abc", Layout::plain);
  expect_bytes(read_file("out/STAR.bin"), pattern_bytes(130), Layout::plain);
  EXPECT_EQ(read_file("out/ZERO.B"), "");
}

// Images made elsewhere: files sharing their sectors, one in the last sector,
// or reaching past the end of the image.
struct MadeCase {
  const char* name;
  Slots slots;
  Args args;
  std::string out, error;
  int status;
};
PARAM_FIXTURE(MadeElsewhereTest, FileTest, MadeCase);

TEST_P(MadeElsewhereTest, StaysUnchanged) {
  const MadeCase& c = GetParam();
  write_file("new.bin", "x");
  write_raw(c.slots, MADE_DATA);
  EXPECT_EQ(expect_unchanged(c.args, c.error, c.status).out, out_with_banner(c.out));
}

const Bytes ENTRY_B = raw_entry('B', "B", 9, 0, 1), SHARED = raw_entry('B', "S", 9, 0, 25600);
const Slots PAST = {{0, raw_entry('B', "A", 250, 0, 1000)}, {1, ENTRY_B}};
const std::string BEYOND = "Read beyond end of the file 'IMG.V'.",
                  ADDING = "Adding file: NEW.B\nSource file: ./new.bin\n";
INSTANTIATE_TEST_SUITE_P(File, MadeElsewhereTest,
    ::testing::Values(MadeCase{"ExtractWithoutMatch", PLAIN, {"-fx", "q*"},
                          "Extracting files by mask: Q???????\n"
                          "Target path: ./\n\nNo files found to extract by given mask!\n\n",
                          "", 0},
        MadeCase{"DeleteWithoutMatchWritesNothing", {{3, ENTRY_B}}, {"-fd", "q*"},
            "Delete files by mask: Q???????\n\nNo files found to delete by given mask!\n\n", "", 0},
        MadeCase{"FreeSpaceBehindTheHighestFile", {{0, raw_entry('B', "A", 255, 0, 1)}},
            {"-fa", "new.bin"}, ADDING, "Disk full!", 27},
        MadeCase{"PackedFilesWouldNotFitRefusedBeforeTheReport", {{0, SHARED}, {1, SHARED}},
            {"-fa", "new.bin"}, ADDING, "Disk full!", 27},
        MadeCase{"ExtractPastTheEnd", PAST, {"-fx", "a*"},
            "Extracting files by mask: A???????\nTarget path: ./\n\nExtracting file: A.B\n", BEYOND,
            10},
        MadeCase{"PackPastTheEnd", PAST, {"-fd", "b*"},
            "Delete files by mask: B???????\n\nDeleting file: B.B\n", BEYOND, 10}),
    CaseName());

}  // namespace

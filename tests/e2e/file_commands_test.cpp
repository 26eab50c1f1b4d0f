// End-to-end tests of the file commands: -fa -fr -fc -fl -fp -fd -fx.
#include "harness.h"

namespace {

using Slots = std::vector<std::pair<int, Bytes>>;
const std::string NO_LONG_NAME(16, ' ');

// The -fa report from its "Long name" line on; the entry point's newline follows.
std::string add_report(const std::string& long_name, int size, int start, const std::string& attributes) {
  return "Long name: " + long_name + "\nSize: " + std::to_string(size) + " bytes (" + std::to_string((size + 127) / 128) +
         " sectors)\nStart: " + std::to_string(start) + "\nAttributes: " + attributes;
}

}  // namespace

// IMG.V: 512 kB, 32 slots, two boot sectors, so data from sector 10; as an 8.1 name, it can name a stored file too.
class FileTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    create_image("IMG.V");
  }
  // Writes `host` with patterned bytes and adds it with -fa and `options`.
  void add(const std::string& host, int size, const Args& options = {}) {
    write_file(host, pattern_bytes(size, size + static_cast<int>(host.size())));
    EXPECT_EQ(run(Args{"IMG.V", "-fa", host} + options).status, 0) << host;
  }
  // IMG.V made without the tool: one boot sector, 32 slots, data from sector 9.
  Bytes write_raw(const Slots& slots, const Slots& data = {}) {
    write_file("IMG.V", build_raw_image({1, 8, 255, slots, data}));
    return read_file("IMG.V");
  }
  // A new image like IMG.V after `commands` run on it in turn, as bytes.
  Bytes fresh_image(const std::vector<Args>& commands) {
    create_image("new.vem");
    for (const Args& command : commands) run(Args{"new.vem"} + command);
    return read_file("new.vem");
  }
  // Runs `args` on IMG.V, which must stay byte for byte as it was; `error` empty: none.
  RunResult expect_unchanged(const Args& args, const std::string& error, int status, const RunOptions& options = {}) {
    const Bytes before = read_file("IMG.V");
    const RunResult result = run(Args{"IMG.V"} + args, options);
    EXPECT_EQ(result.err, error.empty() ? "" : err_line(error));
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(read_file("IMG.V"), before);
    return result;
  }
};

TEST_F(FileTest, ExtractedComplexNamesListRebuildsTheSameImage) {
  const struct { const char* host; int size; Args options; std::string complex; } files[] = {
      {"e.bin", 0, {"-fn", "A B.X", "-ln", "empty one"}, "A#20B_empty#20one_0_0.X"},
      {"one.bin", 1, {"-fn", "#H_1.*", "-sa", "0x4000", "-al"}, "#23H#5F1__16384_1.#2A"},
      {"s127.bin", 127, {"-fn", "a/b.q", "-ln", "a/b_c#d:e *?|<>\"", "-ar"}, "A#2FB_a#2Fb#5Fc#23d#3Ae#20#2A#3F#7C#3C#3E#22_0_2.Q"},
      {"s128.bin", 128, {"-fn", "LONGNAM8.#", "-ln", "sixteen chars ok", "-sa", "65535", "-al", "-ar"},
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
  EXPECT_EQ(fresh_image({{"-fl", "list.txt"}}), read_file("IMG.V"));
}

// `routine` bytes (-1: none) lie in unpckpsc.bin beside the program, run as ./vemtool.
TEST_F(FileTest, AddReportAndStoredEntry) {
  const struct { const char* label; int routine, size; Args options; std::string lname; int start, bits; std::string text; } cases[] = {
      {"None ended by the final newline; empty file in no sector", -1, 0, {}, "", 0, 0, "None"},
      {"List", -1, 1, {"-al", "-ln", "intro", "-sa", "0x4000"}, "intro", 16384, 1, "List\n"},
      {"AllRAM behind an empty routine", 0, 128, {"-psc", "-ar"}, "", 0, 2, "AllRAM\n"},
      {"both behind a routine, start kept", 100, 29, {"-psc", "-al", "-ar", "-sa", "65535"}, "", 65535, 3, "List, AllRAM\n"},
      {"largest routine and file", 256, 65279, {"-psc", "-ln", "0123456789abcdef"}, "0123456789abcdef", 0, 0, "None"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    create_image("IMG.V");
    const Bytes routine = pattern_bytes(c.routine < 0 ? 0 : c.routine, 7), host = pattern_bytes(c.size);
    write_file("unpckpsc.bin", routine);
    write_file("h.bin", host);
    const Bytes data = c.routine < 0 ? host : routine + host;
    const int size = static_cast<int>(data.size());
    expect_run(run(Args{"IMG.V", "-fa", "h.bin"} + c.options, invoked_as("./vemtool")),
               "Adding file: H.B\nSource file: ./h.bin\n" + std::string(c.routine < 0 ? "" : "Unpack routine inserted before file\n") +
                   add_report((c.lname + NO_LONG_NAME).substr(0, 16), size, c.start, c.text) + "\n", "", 0);
    EXPECT_EQ(read_file("IMG.V"), fresh_image({}).replace(256, 32, raw_entry('B', "H", 10, c.start, size, c.bits, c.lname))
                                      .replace(1280, data.size(), data));
  }
}

// A.B, B.B and C.B in a row: B.B's new data, first larger, then smaller, takes its place, and C.B follows it.
TEST_F(FileTest, ReplacedFileKeepsItsPlace) {
  add("a.bin", 300);
  add("b.bin", 50, {"-ln", "bee", "-sa", "99", "-al"});
  add("c.bin", 10);
  write_file("700.bin", pattern_bytes(700));
  write_file("200.bin", pattern_bytes(200, 2));
  expect_run(run({"IMG.V", "-fr", "b.b", "700.bin"}),
             "Replacing file: B.B\nSource file: ./700.bin\nNew size: 700 bytes (6 sectors)\n\n", "", 0);
  EXPECT_EQ(read_file("IMG.V"), fresh_image({{"-fa", "a.bin"}, {"-fa", "700.bin", "-fn", "B.B", "-ln", "bee", "-sa", "99", "-al"},
                                             {"-fa", "c.bin"}}));
  expect_run(run({"IMG.V", "-fa", "200.bin", "-fn", "B.B", "-ow", "-sa", "7", "-ar"}),
             "Adding file: B.B\nFile already exist, will be overwritten.\nSource file: ./200.bin\n" +
                 add_report(NO_LONG_NAME, 200, 7, "AllRAM\n") + "\n", "", 0);
  EXPECT_EQ(read_file("IMG.V"), fresh_image({{"-fa", "a.bin"}, {"-fa", "200.bin", "-fn", "B.B", "-sa", "7", "-ar"}, {"-fa", "c.bin"}}));
}

// A 32 kB image with 4 slots and one boot sector has room for 254 sectors: stored files of 32512 bytes fit exactly.
TEST_F(FileTest, AddDiskAndDirectorySpace) {
  const struct { const char* label; std::vector<int> stored; Args command; int size, status; std::string error; } cases[] = {
      {"one byte over", {}, {"-fa", "new.bin"}, 32513, 27, "Disk full!"},
      {"directory full", {0, 0, 0, 0}, {"-fa", "new.bin"}, 0, 26, "Directory full!"},
      {"both full", {0, 0, 0, 32512}, {"-fa", "new.bin"}, 1, 27, "Disk full!"},
      {"replace by smaller on full disk", {32512}, {"-fr", "F0.B", "new.bin"}, 100, 0, ""},
      {"overwrite in same sectors on full disk", {100, 32384}, {"-fa", "new.bin", "-fn", "F0.B", "-ow"}, 128, 0, ""},
      {"overwrite by larger on full disk", {100, 32384}, {"-fa", "new.bin", "-fn", "F0.B", "-ow"}, 129, 27, "Disk full!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    create_image("IMG.V", 32, 4, 128);
    for (std::size_t i = 0; i < c.stored.size(); ++i) add("f" + std::to_string(i) + ".bin", c.stored[i]);
    write_file("new.bin", pattern_bytes(c.size));
    if (c.status != 0) expect_unchanged(c.command, c.error, c.status);
    else EXPECT_EQ(run(Args{"IMG.V"} + c.command).status, 0);
  }
}

// IMG.V holds A.B (long name of 16 '#', so a long complex name), B.B of 200 bytes and IMG.V; long/ and r100/ hold routines
// of 257 and 100 bytes; the host file A.B is read-only; w/ takes writes cut short by a size limit; d...d/ makes a path to A.B
// of 255 characters with 251 d's and of 256 with 252.
TEST_F(FileTest, FailuresLeaveTheImageUnchanged) {
  const std::string fits(251, 'd'), too_long(252, 'd');
  write_raw({{0, raw_entry('B', "A", 9, 0, 1, 0, std::string(16, '#'))}, {1, raw_entry('B', "B", 10, 0, 200)},
             {2, raw_entry('V', "IMG", 12, 0, 1)}});
  write_file("big.bin", Bytes(65536, 'x'));
  for (const std::string& dir : {std::string("long"), std::string("r100"), std::string("w"), fits, too_long}) make_dir(dir);
  write_file("long/unpckpsc.bin", Bytes(257, 'r'));
  write_file("r100/unpckpsc.bin", Bytes(100, 'r'));
  write_file("A.B", "old");
  make_read_only("A.B");
  give_to_nobody("IMG.V");
  const Args host_files = list_dir();
  const std::string bad = "Invalid complex file name './", open = "Can't open file '", write = "Can't write to the file '";
  const std::string too = "' is too long! Max length ", big = "Source file './big.bin" + too;
  const struct { const char* label; Args args; std::string error; int status; RunOptions options = {}; } cases[] = {
      {"existing name, file not read", {"-fa", "gone/a.b"}, "File 'A.B' alreday exist!", 24},
      {"replace missing file", {"-fr", "Q.B", "a.bin"}, "File 'Q.B' not exist!", 25},
      {"file too long", {"-fa", "big.bin"}, big + "65535 bytes.", 9},
      {"routine of 257", {"-fa", "x.b", "-psc"}, "Source file 'long/unpckpsc.bin" + too + "256 bytes.", 9, invoked_as("long/vemtool")},
      {"file too long after routine", {"-fa", "big.bin", "-psc"}, big + "65435 bytes.", 9, invoked_as("r100/vemtool")},
      {"leading blank", {"-fa", " x.b"}, "Invalid file name/mask ' x.b' in option `-fa`", 22},
      {"blank type", {"-fa", "a.bin", "-fn", "y. "}, "Invalid file name/mask 'y. ' in option `-fn`", 22},
      {"control character first", {"-fa", "a.bin", "-fn", "\x01y.b"}, "Invalid file name/mask '\x01y.b' in option `-fn`", 22},
      {"0x7F type", {"-fa", "a.bin", "-fn", "y.\x7f"}, "Invalid file name/mask 'y.\x7f' in option `-fn`", 22},
      {"high byte first", {"-fp", "\xa0y.b", "-al"}, "Invalid file name/mask '\xa0y.b' in option `-fp`", 22},
      {"complex without fields", {"-fc", "GAME.B"}, bad + "GAME.B'", 29},
      {"complex start too big", {"-fc", "A__65536_0.B"}, bad + "A__65536_0.B'", 29},
      {"complex blank type", {"-fc", "A__0_0.#20"}, bad + "A__0_0.#20'", 29},
      {"complex wildcard name", {"-fc", "#2A__0_0.B"}, "File name '*.B' in option `-fc` must be unambiguous!", 23},
      {"complex control name", {"-fc", "#01X__0_0.B"}, "Invalid file name/mask '\x01X.B' in option `-fc`", 22},
      {"rename to existing", {"-fp", "A.B", "-fn", "b.b"}, "File 'B.B' alreday exist!", 24},
      {"rename to itself", {"-fp", "A.B", "-fn", "a.b"}, "File 'A.B' alreday exist!", 24},
      {"change missing file", {"-fp", "Z.B", "-al"}, "File 'Z.B' not exist!", 25},
      {"read-only host file", {"-fx", "a*"}, open + "./A.B' for writing!", 12, unprivileged()},
      {"extract to missing directory", {"-fx", "nodir/*"}, open + "nodir/A.B' for writing!", 12},
      {"target path of 255 characters still written", {"-fx", fits + "/a*"}, "", 0},
      {"target path of 256 characters", {"-fx", too_long + "/a*"}, open + too_long + "/A.B' for writing!", 12},
      {"extracted file cut short", {"-fx", "w/b*"}, write + "w/B.B'!", 14, size_limited(100)},
      {"list cut short", {"-fx", "w/a*", "-cfn", "-cfnl", "w/list.txt"}, write + "w/list.txt'!", 14, size_limited(50)},
      {"the image as an extracted file", {"-fx", "i*"}, open + "./IMG.V' for writing!", 12},
      {"the image as the list", {"-fx", "q*", "-cfnl", "IMG.V"}, open + "./IMG.V' for writing!", 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    expect_unchanged(c.args, c.error, c.status, c.options);
    EXPECT_EQ(list_dir(), host_files);
  }
  EXPECT_EQ(read_file("A.B"), "old");
  EXPECT_EQ(list_dir(fits), Args{"A.B"});
  EXPECT_EQ(list_dir(too_long), Args{});
}

TEST_F(FileTest, ListSkipsBlankLinesAndStopsAtFailingLine) {
  make_dir("sub");
  write_file("A__0_0.B", "a");
  write_file("sub/B_bee_5_3.Q", "bb");
  write_file("list.txt", "\n  A__0_0.B \r\n\t\n./sub/B_bee_5_3.Q\r\nbad.b\nC__0_0.B\n");
  expect_run(run({"IMG.V", "-fl", "list.txt"}),
             "Adding files from list stored in file: ./list.txt\n\n\nAdding file with complex name.\nAdding file: A.B\n"
             "Source file: A__0_0.B\n" + add_report(NO_LONG_NAME, 1, 0, "None") + "\n\nAdding file with complex name.\n"
             "Adding file: B.Q\nSource file: ./sub/B_bee_5_3.Q\n" + add_report("bee             ", 2, 5, "List, AllRAM\n") +
             "\nAdding file with complex name.\n", "Invalid complex file name 'bad.b'", 29);
  EXPECT_EQ(read_file("IMG.V"), fresh_image({{"-fa", "A__0_0.B", "-fn", "A.B"},
                                             {"-fa", "sub/B_bee_5_3.Q", "-fn", "B.Q", "-ln", "bee", "-sa", "5", "-al", "-ar"}}));
  // A list without a usable line does not open the image.
  write_file("list.txt", " \n\n\t\r\n");
  expect_run(run({"none.vem", "-fl", "list.txt"}), "Adding files from list stored in file: ./list.txt\n\n\n\n\n\n", "", 0);
  EXPECT_FALSE(exists("none.vem"));
  // 0x1A, the end of a text file to Windows, is a byte of its line on every host.
  write_file("list.txt", "\x1A\r\nA__0_0.B\n");
  expect_run(run({"none.vem", "-fl", "list.txt"}),
             "Adding files from list stored in file: ./list.txt\n\nAdding file with complex name.\n",
             "Invalid complex file name '\x1A'", 29);
  EXPECT_FALSE(exists("none.vem"));
}

// B.B in slot 0 at sector 40, A.B in slot 2 at sector 20: the gaps show that nothing is packed.
TEST_F(FileTest, ChangeRewritesOnlyTheEntry) {
  const auto a = [](int attributes) { return raw_entry('B', "A", 20, 0x100, 100, attributes, "old"); };
  const struct { const char* label; int old; Args options; std::string report; Bytes changed; } cases[] = {
      {"name, long name, start, List set", 0, {"-fn", "c.d", "-ln", "new", "-sa", "0xabc", "-al"},
       "New name: C.D\nNew long name: new             \nNew start: 2748 (0ABCh)\nNew attributes: List\n",
       raw_entry('D', "C", 20, 0xABC, 100, 1, "new")},
      {"List cleared", 1, {"-al"}, "New attributes: None\n", a(0)},
      {"both toggled", 1, {"-al", "-ar"}, "New attributes: AllRAM\n", a(2)},
      {"other bits kept, not named", 5, {"-al"}, "New attributes: \n", a(4)},
      {"both named beside other bits", 4, {"-ar", "-al"}, "New attributes: List, AllRAM\n", a(7)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes expected = write_raw({{0, raw_entry('B', "B", 40, 0, 10)}, {2, a(c.old)}}, {{20, "data of A"}, {40, "data of B"}});
    expect_run(run(Args{"IMG.V", "-fp", "a.b"} + c.options), "Changing parameters for file: A.B\n" + c.report + "\n", "", 0);
    EXPECT_EQ(read_file("IMG.V"), expected.replace(128 + 2 * 32, 32, c.changed));
  }
}

// What remains ends up exactly as if only it had been added to a new image.
TEST_F(FileTest, DeleteByMaskPacksTheRest) {
  add("a1.bin", 200);
  add("b.bin", 100, {"-al"});
  add("a2.bin", 300);
  expect_run(run({"IMG.V", "-fd", "a*"}),
             "Delete files by mask: A???????\n\nDeleting file: A1.B\nDeleting file: A2.B\n\n2 file(s) deleted.\n\n", "", 0);
  EXPECT_EQ(read_file("IMG.V"), fresh_image({{"-fa", "b.bin", "-al"}}));
  expect_run(run({"IMG.V", "-fd", "*"}), "Delete files by mask: ????????\n\nDeleting file: B.B\n\n1 file(s) deleted.\n\n", "", 0);
  EXPECT_EQ(read_file("IMG.V"), fresh_image({}));
}

// The size limit lies below the data area.
TEST_F(FileTest, ImageWriteFailureIsReported) {
  write_file("f.bin", "x");
  expect_run(run({"IMG.V", "-fa", "f.bin"}, size_limited(1000)),
             "Adding file: F.B\nSource file: ./f.bin\n" + add_report(NO_LONG_NAME, 1, 0, "None"),
             "Can't write to the file 'IMG.V'!", 14);
}

// Images made elsewhere: names no host file can carry, files sharing their sectors, one in the last sector, or reaching
// past the end of the image. Extraction writes '/' of a stored name as #2F, a control character as its escape too,
// a type '*' as "bin" and a file of length 0 empty.
TEST_F(FileTest, ImagesMadeElsewhereStayUnchanged) {
  const Bytes b = raw_entry('B', "B", 9, 0, 1), shared = raw_entry('B', "S", 9, 0, 25600);
  const Slots past = {{0, raw_entry('B', "A", 250, 0, 1000)}, {1, b}};
  const Slots plain = {{0, raw_entry('B', "../../x", 9, 0, 3)}, {1, raw_entry('*', "STAR", 10, 0, 130)},
                       {2, raw_entry('B', "ZERO", 12, 0, 0)}, {3, raw_entry('B', "A\x01", 9, 0, 2)}};
  const std::string beyond = "Read beyond end of the file 'IMG.V'.", adding = "Adding file: NEW.B\nSource file: ./new.bin\n";
  const struct { const char* label; Slots slots; Args args; std::string out, error; int status; } cases[] = {
      {"plain names in the target directory", plain, {"-fx", "out/*", "-cfnl", "list.txt"}, "Extracting files by mask: ????????\n"
       "Target path: out/\nList file: ./list.txt\n\nExtracting file: ..#2F..#2Fx.B\nExtracting file: STAR.*\n"
       "Extracting file: ZERO.B\nExtracting file: A#01.B\n\n4 file(s) extracted.\n\n", "", 0},
      {"extract without match", plain, {"-fx", "q*"},
       "Extracting files by mask: Q???????\nTarget path: ./\n\nNo files found to extract by given mask!\n\n", "", 0},
      {"delete without match writes nothing", {{3, b}}, {"-fd", "q*"},
       "Delete files by mask: Q???????\n\nNo files found to delete by given mask!\n\n", "", 0},
      {"free space behind the highest file", {{0, raw_entry('B', "A", 255, 0, 1)}}, {"-fa", "new.bin"}, adding, "Disk full!", 27},
      {"packed files would not fit: refused before the report", {{0, shared}, {1, shared}}, {"-fa", "new.bin"},
       adding, "Disk full!", 27},
      {"extract past the end", past, {"-fx", "a*"},
       "Extracting files by mask: A???????\nTarget path: ./\n\nExtracting file: A.B\n", beyond, 10},
      {"pack past the end", past, {"-fd", "b*"}, "Delete files by mask: B???????\n\nDeleting file: B.B\n", beyond, 10},
  };
  make_dir("out");
  write_file("out/ZERO.B", "older");
  write_file("new.bin", "x");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    write_raw(c.slots, {{9, "abc"}, {10, pattern_bytes(256)}});
    EXPECT_EQ(expect_unchanged(c.args, c.error, c.status).out, out_with_banner(c.out));
  }
  EXPECT_EQ(read_file("list.txt"), "./..#2F..#2Fx.B\n./STAR.*\n./ZERO.B\n./A#01.B\n");
  EXPECT_EQ(list_dir("out"), (Args{"..#2F..#2Fx.B", "A#01.B", "STAR.bin", "ZERO.B"}));
  EXPECT_EQ(read_file("out/A#01.B"), "ab");
  EXPECT_EQ(read_file("out/..#2F..#2Fx.B") + read_file("out/STAR.bin") + read_file("out/ZERO.B"), "abc" + pattern_bytes(130));
}

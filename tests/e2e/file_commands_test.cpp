// End-to-end tests of the file commands: -fa -fr -fc -fl -fp -fd -fx.
#include <algorithm>

#include "harness.h"

namespace {

using Slots = std::vector<std::pair<int, Bytes>>;
const Bytes FREE_SLOT(32, static_cast<char>(0xE5));
const std::string NO_LONG_NAME(16, ' ');

// Data as stored: completed to whole sectors with 0xFF.
Bytes stored(Bytes data) {
  data.resize((data.size() + 127) / 128 * 128, static_cast<char>(0xFF));
  return data;
}

Args with(Args head, const Args& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

// The -fa report from its "Long name" line on; the entry point's newline follows.
std::string add_report(const std::string& long_name, int size, int start, const std::string& attributes) {
  return "Long name: " + long_name + "\nSize: " + std::to_string(size) + " bytes (" + std::to_string((size + 127) / 128) +
         " sectors)\nStart: " + std::to_string(start) + "\nAttributes: " + attributes;
}

}  // namespace

// img.vem: 512 kB, 32 slots and two boot sectors, so the data area starts at sector 10.
class FileTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    create_image("img.vem");
  }
  // Writes `host` with patterned bytes and adds it with -fa and `options`.
  Bytes add(const std::string& host, int size, const Args& options = {}, const std::string& image = "img.vem") {
    const Bytes data = pattern_bytes(size, size + static_cast<int>(host.size()));
    write_file(host, data);
    const RunResult result = run(with({image, "-fa", host}, options));
    EXPECT_EQ(result.status, 0) << host << ": " << result.err;
    return data;
  }
  // img.vem made without the tool: one boot sector, 32 slots, data from sector 9.
  Bytes write_raw(const Slots& slots, const Slots& data = {}) {
    RawImage raw;
    raw.slots = slots;
    raw.data = data;
    write_file("img.vem", build_raw_image(raw));
    return read_file("img.vem");
  }
  Bytes entry(int slot) const {
    const Bytes image = read_file("img.vem");
    return image.substr(static_cast<std::size_t>(image[12]) * 128 + static_cast<std::size_t>(slot) * 32, 32);
  }
  // Runs a command that must leave img.vem byte for byte as it was and report `message` (none: success).
  RunResult expect_unchanged(const Args& args, const std::string& message, int status, const RunOptions& options = {}) {
    const Bytes before = read_file("img.vem");
    const RunResult result = run(args, options);
    EXPECT_EQ(result.err, message.empty() ? "" : err_line(message));
    EXPECT_EQ(result.status, status);
    EXPECT_EQ(read_file("img.vem"), before);
    return result;
  }
};

using FileAddTest = FileTest;
using FileChangeTest = FileTest;
using FileExtractTest = FileTest;

TEST_F(FileTest, ExtractedComplexNamesListRebuildsTheSameImage) {
  const struct { const char* host; int size; Args options; std::string complex; } files[] = {
      {"e.bin", 0, {"-fn", "A B.X", "-ln", "empty one"}, "A#20B_empty#20one_0_0.X"},
      {"one.bin", 1, {"-fn", "#H_1.*", "-sa", "0x4000", "-al"}, "#23H#5F1__16384_1.#2A"},
      {"s127.bin", 127, {"-fn", "a/b.q", "-ln", "a/b_c#d:e *?|<>\"", "-ar"},
       "A#2FB_a#2Fb#5Fc#23d#3Ae#20#2A#3F#7C#3C#3E#22_0_2.Q"},
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
  EXPECT_EQ(run({"img.vem", "-fx", "*", "-cfn", "-cfnl", "list.txt"}).status, 0);
  EXPECT_EQ(read_file("list.txt"), list);
  for (const auto& file : files) EXPECT_EQ(read_file(file.complex), read_file(file.host)) << file.complex;
  create_image("new.vem");
  EXPECT_EQ(run({"new.vem", "-fl", "list.txt"}).status, 0);
  EXPECT_EQ(read_file("new.vem"), read_file("img.vem"));
}

// `routine` bytes (-1: none) lie in bin/unpckpsc.bin beside the program, run as bin/vemtool.
TEST_F(FileAddTest, ReportAndStoredEntry) {
  const struct {
    const char* label; int routine, size; Args options; std::string long_name; int start, attributes; std::string attribute_text;
  } cases[] = {
      {"no attributes: None ended by the final newline", -1, 300, {}, "", 0, 0, "None"},
      {"List", -1, 1, {"-al", "-ln", "intro", "-sa", "0x4000"}, "intro", 16384, 1, "List\n"},
      {"AllRAM", -1, 128, {"-ar"}, "", 0, 2, "AllRAM\n"},
      {"both", -1, 129, {"-ar", "-al", "-sa", "65535"}, "", 65535, 3, "List, AllRAM\n"},
      {"empty file in no sector", -1, 0, {}, "", 0, 0, "None"},
      {"largest file", -1, 65535, {"-ln", "0123456789abcdef"}, "0123456789abcdef", 0, 0, "None"},
      {"empty routine", 0, 10, {"-psc"}, "", 0, 0, "None"},
      {"routine first, start kept", 100, 60, {"-psc", "-sa", "5"}, "", 5, 0, "None"},
      {"largest routine and file", 256, 65279, {"-psc"}, "", 0, 0, "None"},
  };
  make_dir("bin");
  write_file("bin/vem-boot.bin", make_booter(128));
  RunOptions options;
  options.argv0 = "bin/vemtool";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    create_image("img.vem");
    const Bytes routine = pattern_bytes(std::max(c.routine, 0), 7), host = pattern_bytes(c.size);
    write_file("bin/unpckpsc.bin", routine);
    write_file("hello.bin", host);
    const Bytes data = c.routine < 0 ? host : routine + host;
    const int size = static_cast<int>(data.size());
    const RunResult result = run(with({"img.vem", "-fa", "hello.bin"}, c.options), options);
    EXPECT_EQ(result.out, out_with_banner("Adding file: HELLO.B\nSource file: ./hello.bin\n" +
                                          std::string(c.routine < 0 ? "" : "Unpack routine inserted before file\n") +
                                          add_report((c.long_name + NO_LONG_NAME).substr(0, 16), size, c.start,
                                                     c.attribute_text) + "\n"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(entry(0), raw_entry('B', "HELLO", 10, c.start, size, c.attributes, c.long_name));
    EXPECT_EQ(entry(1), FREE_SLOT);
    EXPECT_EQ(read_file("img.vem").substr(1280, stored(data).size() + 128), stored(data) + Bytes(128, '\xFF'));
  }
}

TEST_F(FileAddTest, ExistingFileKeepsItsPlace) {
  const struct { const char* label; Args command; std::string report; Bytes changed; } cases[] = {
      {"replace keeps the parameters", {"-fr", "b.b", "new.bin"},
       "Replacing file: B.B\nSource file: ./new.bin\nNew size: 700 bytes (6 sectors)\n", raw_entry('B', "B", 13, 99, 700, 1, "bee")},
      {"overwrite takes new parameters", {"-fa", "new.bin", "-fn", "B.B", "-ow", "-sa", "7", "-ar"},
       "Adding file: B.B\nFile already exist, will be overwritten.\nSource file: ./new.bin\n" +
           add_report(NO_LONG_NAME, 700, 7, "AllRAM\n"),
       raw_entry('B', "B", 13, 7, 700, 2)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    create_image("img.vem");
    add("a.bin", 300);
    add("b.bin", 50, {"-ln", "bee", "-sa", "99", "-al"});
    const Bytes last = add("c.bin", 10), data = pattern_bytes(700);
    write_file("new.bin", data);
    EXPECT_EQ(run(with({"img.vem"}, c.command)).out, out_with_banner(c.report + "\n"));
    EXPECT_EQ(entry(1), c.changed);
    EXPECT_EQ(entry(2), raw_entry('B', "C", 19, 0, 10, 0));
    EXPECT_EQ(read_file("img.vem").substr(13 * 128, 7 * 128), stored(data) + stored(last));
  }
}

// A 32 kB image with 4 slots and one boot sector has room for 254 sectors (32512 bytes).
TEST_F(FileAddTest, DiskAndDirectorySpace) {
  const Args overwrite = {"-fa", "new.bin", "-fn", "F0.B", "-ow"};
  const struct { const char* label; std::vector<int> stored; Args command; int size, status; std::string error; } cases[] = {
      {"exact fit", {}, {"-fa", "new.bin"}, 32512, 0, ""},
      {"one byte over", {}, {"-fa", "new.bin"}, 32513, 27, "Disk full!"},
      {"directory full", {0, 0, 0, 0}, {"-fa", "new.bin"}, 0, 26, "Directory full!"},
      {"both full", {0, 0, 0, 32512}, {"-fa", "new.bin"}, 1, 27, "Disk full!"},
      {"replace by smaller on full disk", {32512}, {"-fr", "F0.B", "new.bin"}, 100, 0, ""},
      {"overwrite in same sectors on full disk", {100, 32384}, overwrite, 128, 0, ""},
      {"overwrite by larger on full disk", {100, 32384}, overwrite, 129, 27, "Disk full!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    create_image("img.vem", 32, 4, 128);
    for (std::size_t i = 0; i < c.stored.size(); ++i) add("f" + std::to_string(i) + ".bin", c.stored[i]);
    write_file("new.bin", pattern_bytes(c.size));
    if (c.status != 0) expect_unchanged(with({"img.vem"}, c.command), c.error, c.status);
    else EXPECT_EQ(run(with({"img.vem"}, c.command)).status, 0);
  }
}

// img.vem holds A.B and B.B; long/ and r100/ hold routines of 257 and 100 bytes; the host file A.B is read-only.
TEST_F(FileTest, FailuresLeaveTheImageUnchanged) {
  add("a.bin", 1);
  add("b.bin", 1);
  write_file("big.bin", Bytes(65536, 'x'));
  make_dir("long");
  make_dir("r100");
  write_file("long/unpckpsc.bin", Bytes(257, 'r'));
  write_file("r100/unpckpsc.bin", Bytes(100, 'r'));
  write_file("A.B", "old");
  make_read_only("A.B");
  give_to_nobody("img.vem");
  const std::string bad = "Invalid complex file name './";
  const struct { const char* label; Args args; std::string error; int status; std::string argv0 = ""; bool unprivileged = false; }
  cases[] = {
      {"existing name, file not read", {"-fa", "gone/a.b"}, "File 'A.B' alreday exist!", 24},
      {"replace missing file", {"-fr", "Q.B", "a.bin"}, "File 'Q.B' not exist!", 25},
      {"file too long", {"-fa", "big.bin"}, "Source file './big.bin' is too long! Max length 65535 bytes.", 9},
      {"routine too long", {"-fa", "c.bin", "-psc"}, "Source file 'long/unpckpsc.bin' is too long! Max length 256 bytes.", 9,
       "long/vemtool"},
      {"file too long after routine", {"-fa", "big.bin", "-psc"},
       "Source file './big.bin' is too long! Max length 65435 bytes.", 9, "r100/vemtool"},
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
      {"read-only host file", {"-fx", "a*"}, "Can't open file './A.B' for writing!", 12, "", true},
      {"extract to missing directory", {"-fx", "nodir/*"}, "Can't open file 'nodir/A.B' for writing!", 12},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    RunOptions options;
    options.argv0 = c.argv0;
    options.unprivileged = c.unprivileged;
    expect_unchanged(with({"img.vem"}, c.args), c.error, c.status, options);
  }
  EXPECT_EQ(read_file("A.B"), "old");
}

TEST_F(FileAddTest, ListSkipsBlankLinesAndStopsAtFailingLine) {
  make_dir("sub");
  write_file("A__0_0.B", "a");
  write_file("sub/B_bee_5_3.Q", "bb");
  write_file("C__0_0.B", "c");
  write_file("list.txt", "\n  A__0_0.B \r\n\t\n./sub/B_bee_5_3.Q\r\nbad.b\nC__0_0.B\n");
  const RunResult result = run({"img.vem", "-fl", "list.txt"});
  EXPECT_EQ(result.out, out_with_banner(
      "Adding files from list stored in file: ./list.txt\n\n\nAdding file with complex name.\nAdding file: A.B\n"
      "Source file: A__0_0.B\n" + add_report(NO_LONG_NAME, 1, 0, "None") + "\n\nAdding file with complex name.\n"
      "Adding file: B.Q\nSource file: ./sub/B_bee_5_3.Q\n" + add_report("bee             ", 2, 5, "List, AllRAM\n") +
      "\nAdding file with complex name.\n"));
  EXPECT_EQ(result.err, err_line("Invalid complex file name 'bad.b'"));
  EXPECT_EQ(result.status, 29);
  EXPECT_EQ(entry(0), raw_entry('B', "A", 10, 0, 1, 0));
  EXPECT_EQ(entry(1), raw_entry('Q', "B", 11, 5, 2, 3, "bee"));
  EXPECT_EQ(entry(2), FREE_SLOT);
}

TEST_F(FileAddTest, ListWithoutUsableLineDoesNotOpenTheImage) {
  write_file("list.txt", " \n\n\t\r\n");
  const RunResult result = run({"none.vem", "-fl", "list.txt"});
  EXPECT_EQ(result.out, out_with_banner("Adding files from list stored in file: ./list.txt\n\n\n\n\n\n"));
  EXPECT_EQ(result.status, 0);
  EXPECT_FALSE(exists("none.vem"));
}

// B.B in slot 0 at sector 40, A.B in slot 2 at sector 20: the gaps show that nothing is packed.
TEST_F(FileChangeTest, RewritesOnlyTheEntry) {
  const struct { const char* label; int old_attributes; Args options; std::string report; Bytes changed; } cases[] = {
      {"rename", 0, {"-fn", "c.d"}, "New name: C.D\n", raw_entry('D', "C", 20, 0x100, 100, 0, "old")},
      {"long name", 0, {"-ln", "new"}, "New long name: new             \n", raw_entry('B', "A", 20, 0x100, 100, 0, "new")},
      {"start", 0, {"-sa", "0x1234"}, "New start: 4660 (1234h)\n", raw_entry('B', "A", 20, 0x1234, 100, 0, "old")},
      {"List cleared", 1, {"-al"}, "New attributes: None\n", raw_entry('B', "A", 20, 0x100, 100, 0, "old")},
      {"both toggled", 1, {"-al", "-ar"}, "New attributes: AllRAM\n", raw_entry('B', "A", 20, 0x100, 100, 2, "old")},
      {"both set", 0, {"-ar", "-al"}, "New attributes: List, AllRAM\n", raw_entry('B', "A", 20, 0x100, 100, 3, "old")},
      {"other bits kept, not named", 5, {"-al"}, "New attributes: \n", raw_entry('B', "A", 20, 0x100, 100, 4, "old")},
      {"List beside other bits", 4, {"-al"}, "New attributes: List\n", raw_entry('B', "A", 20, 0x100, 100, 5, "old")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes expected = write_raw({{0, raw_entry('B', "B", 40, 0, 10)}, {2, raw_entry('B', "A", 20, 0x100, 100, c.old_attributes, "old")}},
                               {{20, pattern_bytes(100)}, {40, pattern_bytes(10)}});
    const RunResult result = run(with({"img.vem", "-fp", "a.b"}, c.options));
    EXPECT_EQ(result.out, out_with_banner("Changing parameters for file: A.B\n" + c.report + "\n"));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(read_file("img.vem"), expected.replace(128 + 2 * 32, 32, c.changed));
  }
}

// The remaining files end up exactly as if only they had been added to a new image.
TEST_F(FileChangeTest, DeleteByMaskPacksTheRest) {
  const struct { const char* mask; std::string report; } cases[] = {
      {"a*", "Delete files by mask: A???????\n\nDeleting file: A1.B\nDeleting file: A2.B\n\n2 file(s) deleted.\n"},
      {"*", "Delete files by mask: ????????\n\nDeleting file: A1.B\nDeleting file: B.B\nDeleting file: A2.B\n\n"
            "3 file(s) deleted.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mask);
    create_image("img.vem");
    create_image("ref.vem");
    add("a1.bin", 200);
    add("b.bin", 100, {"-al"});
    add("a2.bin", 300);
    if (std::string(c.mask) != "*") add("b.bin", 100, {"-al"}, "ref.vem");
    EXPECT_EQ(run({"img.vem", "-fd", c.mask}).out, out_with_banner(c.report + "\n"));
    EXPECT_EQ(read_file("img.vem"), read_file("ref.vem"));
  }
}

// Plain names: '/' of a stored name escaped, a type '*' replaced by "bin", a file of length 0 written empty.
TEST_F(FileExtractTest, PlainNamesStayInTheTargetDirectory) {
  write_raw({{0, raw_entry('B', "../../x", 9, 0, 3)}, {1, raw_entry('*', "STAR", 10, 0, 130)}, {2, raw_entry('B', "ZERO", 12, 0, 0)}},
            {{9, "abc"}, {10, pattern_bytes(256)}});
  make_dir("out");
  write_file("out/ZERO.B", "older");
  EXPECT_EQ(expect_unchanged({"img.vem", "-fx", "out/*", "-cfnl", "list.txt"}, "", 0).out, out_with_banner(
      "Extracting files by mask: ????????\nTarget path: out/\nList file: ./list.txt\n\nExtracting file: ..#2F..#2Fx.B\n"
      "Extracting file: STAR.*\nExtracting file: ZERO.B\n\n3 file(s) extracted.\n\n"));
  EXPECT_EQ(read_file("list.txt"), "./..#2F..#2Fx.B\n./STAR.*\n./ZERO.B\n");
  EXPECT_EQ(list_dir("out"), (Args{"..#2F..#2Fx.B", "STAR.bin", "ZERO.B"}));
  EXPECT_EQ(read_file("out/..#2F..#2Fx.B") + read_file("out/STAR.bin") + read_file("out/ZERO.B"), "abc" + pattern_bytes(130));
  EXPECT_EQ(run({"img.vem", "-fx", "q*"}).out,
            out_with_banner("Extracting files by mask: Q???????\nTarget path: ./\n\nNo files found to extract by given mask!\n\n"));
}

TEST_F(FileExtractTest, TargetPathOfAtMost255Characters) {
  add("hello.bin", 5);
  for (const std::size_t length : {247, 248}) {  // directory, '/' and HELLO.B: 255 and 256 characters
    const std::string target = std::string(length, 'd') + "/";
    make_dir(target);
    const Args before = list_dir();
    const RunResult result = run({"img.vem", "-fx", target + "*"});
    EXPECT_EQ(result.err, length == 247 ? "" : err_line("Can't open file '" + target + "HELLO.B' for writing!"));
    EXPECT_EQ(result.status, length == 247 ? 0 : 12);
    EXPECT_EQ(list_dir(target), length == 247 ? Args{"HELLO.B"} : Args{});
    EXPECT_EQ(list_dir(), before);
  }
}

// Standard error must stay below the limit, so every failing file is larger than it.
TEST_F(FileExtractTest, WriteFailuresAreReported) {
  const struct { const char* label; std::vector<int> stored; Args command; long limit; std::string error; } cases[] = {
      {"extracted file", {5000}, {"-fx", "*"}, 1000, "Can't write to the file './F0.B'!"},
      {"list file", {0, 0, 0}, {"-fx", "*", "-cfn", "-cfnl", "list.txt"}, 64, "Can't write to the file './list.txt'!"},
      {"image", {1}, {"-fa", "f0.bin", "-fn", "N.B"}, 1000, "Can't write to the file 'img.vem'!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    create_image("img.vem");
    for (std::size_t i = 0; i < c.stored.size(); ++i) add("f" + std::to_string(i) + ".bin", c.stored[i], {"-ln", "0123456789abcdef"});
    RunOptions options;
    options.file_size_limit = c.limit;
    const RunResult result = run(with({"img.vem"}, c.command), options);
    EXPECT_EQ(result.err, err_line(c.error));
    EXPECT_EQ(result.status, 14);
  }
}

// Images made elsewhere: files out of order, sharing their sectors, or reaching past the end of the image.
TEST_F(FileTest, ImagesMadeElsewhereStayUnchanged) {
  const Bytes past_end = raw_entry('B', "A", 250, 0, 1000), b = raw_entry('B', "B", 9, 0, 1);
  const Bytes shared = raw_entry('B', "S", 9, 0, 200 * 128);
  const std::string beyond = "Read beyond end of the file 'img.vem'.", adding = "Adding file: NEW.B\nSource file: ./new.bin\n";
  const struct { const char* label; Slots slots; Args args; std::string out, error; int status; } cases[] = {
      {"delete without match writes nothing", {{3, b}}, {"-fd", "q*"},
       "Delete files by mask: Q???????\n\nNo files found to delete by given mask!\n\n", "", 0},
      {"free space counted behind the highest file", {{0, raw_entry('B', "A", 255, 0, 1)}}, {"-fa", "new.bin"}, adding,
       "Disk full!", 27},
      {"packed files would not fit", {{0, shared}, {1, shared}}, {"-fa", "new.bin"},
       adding + add_report(NO_LONG_NAME, 1, 0, "None"), "Disk full!", 27},
      {"extract past the end", {{0, past_end}, {1, b}}, {"-fx", "a*"},
       "Extracting files by mask: A???????\nTarget path: ./\n\nExtracting file: A.B\n", beyond, 10},
      {"pack after reading past the end", {{0, past_end}, {1, b}}, {"-fd", "b*"},
       "Delete files by mask: B???????\n\nDeleting file: B.B\n", beyond, 10},
  };
  write_file("new.bin", "x");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    write_raw(c.slots);
    EXPECT_EQ(expect_unchanged(with({"img.vem"}, c.args), c.error, c.status).out, out_with_banner(c.out));
  }
}

// Extraction never overwrites the image it reads, as a file or as the list.
TEST_F(FileExtractTest, TheImageItselfIsNeverOverwritten) {
  create_image("X.V");
  write_file("x.bin", "data");
  ASSERT_EQ(run({"X.V", "-fa", "x.bin", "-fn", "X.V"}).status, 0);
  const Bytes before = read_file("X.V");
  for (const Args& args : {Args{"X.V", "-fx", "*"}, Args{"X.V", "-fx", "q*", "-cfnl", "X.V"}}) {
    const RunResult result = run(args);
    EXPECT_EQ(result.err, err_line("Can't open file './X.V' for writing!"));
    EXPECT_EQ(result.status, 12);
    EXPECT_EQ(read_file("X.V"), before);
  }
}

// The commit of every writing command: the same bytes as a full rewrite,
// nothing left half-done by a kill or a failed write, writers serialized.
#include <unistd.h>

#include <cstdlib>
#include <regex>

#include "harness.h"

namespace {

// The images every command is tried on: packed by this tool; made elsewhere
// with gaps between slots and files and stray bytes in the free areas; and
// one whose file ends behind its last file, short of its declared size.
enum Shape { PACKED, MADE_ELSEWHERE, SHORT_FILE };

Bytes shaped_image(Shape shape) {
  RawImage image{1, 8, 1023, {}, {}};
  const bool gaps = shape == MADE_ELSEWHERE;
  int sector = 9 + (gaps ? 2 : 0);
  for (int i = 0; i < 4; ++i) {
    const int length = std::vector<int>{300, 129, 0, 1000}[i];
    const std::string name(1, char('A' + i));
    image.slots.push_back(
        {gaps ? i * 2 + 1 : i, raw_entry('B', name, sector, 0x100 * i, length, i, "Long " + name)});
    image.data.push_back({sector, pattern_bytes(length, i) + Bytes(-length & 127, '\xFF')});
    sector += (length + 127) / 128 + (gaps ? 3 : 0);
  }
  if (gaps) {
    image.slots.push_back({0, " stray slot bytes" + Bytes(15, 'x')});  // free: starts with a blank
    image.slots.push_back({6, Bytes(1, '\xE5') + "also free" + Bytes(22, '\x01')});
    image.data.push_back({10, Bytes(128, '\0')});  // between files
    for (const int sector : {900, 950, 1000})      // behind the last file, apart
      image.data.push_back({sector, "stray data in a free sector"});
  }
  Bytes bytes = build_raw_image(image);
  if (shape == SHORT_FILE) bytes.resize(sector * 128u);
  return bytes;
}

struct Command {
  const char* name;
  Args args;
};

const std::vector<Command> WRITING = {
    {"Add", {"-fa", "new.bin", "-ln", "New one", "-sa", "0x4000", "-al"}},
    {"AddOverwrite", {"-fa", "a.b", "-ow"}}, {"Replace", {"-fr", "B.B", "new.bin"}},
    {"AddComplex", {"-fc", "CX_Long#20n_4096_3.B"}}, {"AddList", {"-fl", "list.txt"}},
    {"ChangeParameters", {"-fp", "A.B", "-fn", "Z.B", "-sa", "1", "-al"}},
    {"DeleteFirst", {"-fd", "A*"}}, {"DeleteLast", {"-fd", "D*"}}, {"DeleteAll", {"-fd", "*"}},
    {"ReconfigureItems", {"-ir", "-id", "64", "-is", "128"}},
    {"ReconfigureSize", {"-ir", "-is", "256"}},
    {"ReconfigureBootOnly", {"-ir", "-ib", "boot1.bin", "-is", "128"}},
    {"ReconfigureBootGrows", {"-ir", "-ib", "boot2.bin", "-is", "128"}},
    {"MakeLoader", {"-ml", "LDR.L", "A.B", "B.B", "-mon", "2X"}},
    {"CreateOverExisting", {"-ic", "-ib", "boot1.bin", "-is", "64"}}};
const std::vector<Command> READING = {{"Catalogue", {"-c"}}, {"Info", {"-ii"}},
    {"Extract", {"-fx", "*", "-cfn", "-cfnl", "list.txt"}},
    {"LoaderInfoOfMissingFile", {"-li", "GAME.B"}}};

// More calls than any command here makes: a run that is still cut short at
// this count fails for another reason.
constexpr int MAX_FAULTS = 200;

void PrintTo(const Command& command, std::ostream* out) { *out << command.name; }

class FaultTest : public E2eTest {
 protected:
  // `line` on the image `old` with `fault` planned at its 1st, 2nd, ... call
  // until a run completes with `fresh`; `check` judges each run that did not. Inside this process
  // on the fault double, or, `traced`, the built tool under strace with that fault injected.
  // Returns how many runs did not complete.
  template <class Check>
  int until_done(const Args& line, const Bytes& old, const Bytes& fresh, Fault fault,
      const std::string& traced, const Check& check) {
    for (fault.at = 1; fault.at < MAX_FAULTS; ++fault.at) {
      SCOPED_TRACE(traced + " #" + std::to_string(fault.at));
      write_file("img.vem", old);
      const RunResult result =
          traced.empty() ? run_inside(line, fault) : run(line, injected(traced, fault.at));
      if (result.status == 0) {
        expect_bytes(read_file("img.vem"), fresh);
        // The run that completes clears what the cut-short ones left.
        for (const std::string& name : list_dir())
          EXPECT_EQ(name.find("img.vem."), std::string::npos) << name;
        return fault.at - 1;
      }
      check(result);
    }
    ADD_FAILURE() << "still cut short at call " << MAX_FAULTS;
    return MAX_FAULTS;
  }
};

class CommitTest : public FaultTest, public ::testing::WithParamInterface<Command> {
 protected:
  void SetUp() override {
    FaultTest::SetUp();
    write_file("new.bin", pattern_bytes(1000, 7));
    write_file("a.b", pattern_bytes(700, 8));
    write_file("CX_Long#20n_4096_3.B", pattern_bytes(200, 9));
    write_file("L1_First_0_1.B", pattern_bytes(130, 10));
    write_file("L2__0_0.C", "");
    write_file("list.txt", "L1_First_0_1.B\r\n\n  L2__0_0.C  \n");
    write_file("boot1.bin", make_booter(128).replace(50, 1, "Z"));  // differs from the image's
    write_file("boot2.bin", make_booter(300));
  }
  Args command_line() const { return Args{"img.vem"} + GetParam().args; }
  // The image `shape` after the command, as the reference build leaves it.
  RunResult reference_run(Shape shape, Bytes& image) {
    write_file("img.vem", shaped_image(shape));
    RunOptions options;
    options.reference = true;
    const RunResult result = run(command_line(), options);
    image = read_file("img.vem");
    ::unlink(path("img.vem.tmp").c_str());
    return result;
  }
  // Kills the command (in this process on the fault double, or, `traced`,
  // the built tool under strace) at every call that changes a file: the
  // image is the old or the new one once the next run has opened it, and so
  // is a copy of the folder (another inode, as after a backup or a disk
  // mounted again).
  int kill_everywhere(const std::string& traced) {
    const Bytes old = shaped_image(MADE_ELSEWHERE);
    Bytes fresh;
    EXPECT_EQ(reference_run(MADE_ELSEWHERE, fresh).status, 0);
    return until_done(
        command_line(), old, fresh, Fault{FaultKind::kill}, traced, [&](const RunResult& r) {
          EXPECT_EQ(r.status, KILLED_STATUS);
          make_dir("copy");
          for (const char* side : {"img.vem", "img.vem.jnl"}) {
            if (exists(side)) write_file(std::string("copy/") + side, read_file(side));
          }
          for (const char* image : {"copy/img.vem", "img.vem"}) {
            EXPECT_EQ(run_inside({image, "-ii"}).status, 0);
            const Bytes after = read_file(image);
            EXPECT_TRUE(after == old || after == fresh) << image << ": neither old nor new";
            EXPECT_FALSE(exists(std::string(image) + ".jnl"));
          }
        });
  }
};

// Every command on every shape of image leaves the bytes, output and status
// of the full-rewrite reference, and no side file. A standard stream the
// caller closed is never taken by the image: the image is the same with any
// of them closed, and output that cannot be written fails the run as it
// does on a full disk, or ends it as a closed pipe does.
using EveryCommandTest = CommitTest;
TEST_P(EveryCommandTest, LeavesTheBytesOfAFullRewriteWithAnyStreamClosed) {
  for (Shape shape : {PACKED, MADE_ELSEWHERE, SHORT_FILE}) {
    SCOPED_TRACE(shape);
    Bytes expected;
    const RunResult reference = reference_run(shape, expected);
    write_file("img.vem", shaped_image(shape));
    const Args before = list_dir();
    const RunResult minimal = run(command_line());
    // -ml names its temporary Loader file uniquely in each run.
    const std::regex temporary("vemldr[A-Za-z0-9]{6}");
    EXPECT_EQ(std::regex_replace(minimal.out, temporary, "vemldr"),
        std::regex_replace(reference.out, temporary, "vemldr"));
    EXPECT_EQ(minimal.err, reference.err);
    EXPECT_EQ(minimal.status, reference.status);
    expect_bytes(read_file("img.vem"), expected);
    EXPECT_EQ(list_dir(), before);
    if (shape != PACKED) continue;
    for (int stream = 0; stream < 5; ++stream) {  // stdin, stdout (3 ways), stderr
      SCOPED_TRACE("stream case " + std::to_string(stream));
      write_file("img.vem", shaped_image(shape));
      RunOptions closed;
      closed.closed_stdin = stream == 0;
      closed.closed_stderr = stream == 4;
      closed.out = std::vector<Stdout>{Stdout::captured, Stdout::closed, Stdout::full,
          Stdout::broken_pipe, Stdout::captured}[stream];
      const RunResult result = run(command_line(), closed);
      const bool unwritable = (stream == 1 || stream == 2) && minimal.status == 0;
      EXPECT_EQ(result.status, stream == 3 ? 128 + SIGPIPE : unwritable ? 14 : minimal.status);
      EXPECT_EQ(
          result.err, unwritable ? err_line("Can't write to the file 'stdout'!") : result.err);
      expect_bytes(read_file("img.vem"), expected);
    }
  }
}

// A kill before any write, sync, truncation, rename, link, removal or
// creation leaves the old image or the new one.
TEST_P(CommitTest, KilledAnywhereLeavesTheOldOrTheNewImage) {
  RecordProperty("kill_points", kill_everywhere(""));
}

// A failed write, a write cut short, or a failed sync fails the command with
// its message, and the image is the old one when the command ends.
TEST_P(CommitTest, FailedWriteLeavesTheOldImage) {
  Bytes fresh;
  ASSERT_EQ(reference_run(MADE_ELSEWHERE, fresh).status, 0);
  const Bytes old = shaped_image(MADE_ELSEWHERE);
  int failures = 0;
  for (const Fault& fault : {Fault{FaultKind::fail, FaultCalls::writes},
           Fault{FaultKind::short_write, FaultCalls::writes},
           Fault{FaultKind::fail, FaultCalls::syncs}}) {
    failures += until_done(command_line(), old, fresh, fault, "", [&](const RunResult& r) {
      EXPECT_EQ(r.status, 14);
      EXPECT_EQ(r.err.rfind("Can't write to the file '", 0), 0u) << r.err;
      expect_bytes(read_file("img.vem"), old);
    });
  }
  RecordProperty("failure_points", failures);
}

// The built tool killed by strace at every write, sync, rename, removal,
// link and truncation, for a few commands: proof that the double tells the
// truth about the real system calls.
using TracedCommitTest = CommitTest;
TEST_P(TracedCommitTest, KilledAnywhereLeavesTheOldOrTheNewImage) {
  int kills = 0;
  for (const char* call : {"pwrite64", "fdatasync", "rename", "unlink", "link", "ftruncate"})
    kills += kill_everywhere(std::string(call) + ":signal=KILL");
  EXPECT_GT(kills, 0);
}

const auto BY_NAME = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Commands, CommitTest, ::testing::ValuesIn(WRITING), BY_NAME);
INSTANTIATE_TEST_SUITE_P(Commands, EveryCommandTest,
    ::testing::ValuesIn(WRITING + std::vector<Command>(READING)), BY_NAME);
INSTANTIATE_TEST_SUITE_P(
    Commands, TracedCommitTest, ::testing::Values(WRITING[4], WRITING[6], WRITING[9]), BY_NAME);

using CommitSafetyTest = FaultTest;

// Moving 300 kB writes a journal larger than the buffer it passes through:
// a kill or failed write at any point of it, or of the moves, still leaves
// the old image or the new one.
TEST_F(CommitSafetyTest, LargeMoveKilledAnywhereOrFailedWrite) {
  RawImage image{1, 8, 4095};
  for (int i = 0; i < 6; ++i) {
    image.slots.push_back({i, raw_entry('B', "F" + std::to_string(i), 9 + 469 * i, 0, 60000)});
    image.data.push_back({9 + 469 * i, pattern_bytes(60000, i) + Bytes(32, '\xFF')});
  }
  const Bytes old = build_raw_image(image);
  write_file("img.vem", old);
  const Args line = {"img.vem", "-fd", "F0.B"};
  ASSERT_EQ(run(line).status, 0);
  const Bytes fresh = read_file("img.vem");
  until_done(line, old, fresh, Fault{FaultKind::kill}, "", [&](const RunResult&) {
    ASSERT_EQ(run_inside({"img.vem", "-ii"}).status, 0);
    EXPECT_TRUE(read_file("img.vem") == old || read_file("img.vem") == fresh);
  });
  until_done(line, old, fresh, Fault{FaultKind::fail, FaultCalls::writes}, "",
      [&](const RunResult& r) { EXPECT_TRUE(r.status == 14 && read_file("img.vem") == old); });
}

TEST_F(CommitSafetyTest, SimultaneousAddsAllArriveWhole) {
  create_image("img.vem", 1024);
  for (int i = 0; i < 16; ++i)
    write_file("f" + std::to_string(i) + ".bin", pattern_bytes(1000 + 300 * i, i));
  const std::string script = "cd '" + dir_ + "' && for i in $(seq 0 15); do '" + VEMTOOL_BINARY +
                             "' img.vem -fa f$i.bin -ow >/dev/null 2>err$i & done; wait";
  ASSERT_EQ(std::system(script.c_str()), 0);
  make_dir("out");
  ASSERT_EQ(run({"img.vem", "-fx", "out/*"}).status, 0);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(read_file("err" + std::to_string(i)), "");
    expect_bytes(read_file("out/F" + std::to_string(i) + ".B"), pattern_bytes(1000 + 300 * i, i));
  }
}

// A journal whose writing was cut short goes; a file of the user's that
// happens to bear a side file's name stays. A run waits for another that
// holds the image, and gives up after the wait (on a clock that here takes
// no time), naming the image; the image is left as it was.
TEST_F(CommitSafetyTest, ARunWaitsForTheLockThenGivesUpNamingTheImage) {
  create_image("img.vem");
  const Bytes image = read_file("img.vem");
  write_file("img.vem.new", "the user's own file");
  write_file("img.vem.jnl", "VEMJRNL");
  EXPECT_EQ(run({"img.vem", "-ii"}).status, 0);
  EXPECT_EQ(read_file("img.vem"), image);
  EXPECT_EQ(list_dir(), (Args{"boot.bin", "img.vem", "img.vem.new"}));
  write_file("a.bin", "a");
  EXPECT_EQ(run_inside({"img.vem", "-fa", "a.bin"}, Fault{FaultKind::none, {}, 0, 5}).status, 0);
  const Bytes before = read_file("img.vem");
  const Fault held{FaultKind::none, {}, 0, 1 << 30, true};
  expect_run(run_inside({"img.vem", "-fd", "A.B"}, held), "",
      "Can't access output file 'img.vem' for writing!", 13);
  expect_run(
      run_inside({"img.vem", "-c"}, held), "", "Can't access file 'img.vem' for reading!", 7);
  EXPECT_EQ(read_file("img.vem"), before);
}

// A list whose first line shrinks a file and whose second fills the space it
// freed: after a power cut that keeps only the journal synced before the
// second line, the old image comes back, also where the old file's last
// sectors held nothing but the free-space fill (so no line journaled them).
TEST_F(CommitSafetyTest, ListRefillingFreedSpaceSurvivesAPowerCut) {
  create_image("img.vem", 64);
  write_file("x.b", pattern_bytes(1000, 1) + Bytes(500, '\xFF'));
  ASSERT_EQ(run({"img.vem", "-fa", "x.b"}).status, 0);
  const Bytes old = read_file("img.vem");
  write_file("X__0_0.B", pattern_bytes(200, 2));
  write_file("Y__0_0.B", pattern_bytes(1200, 3));
  write_file("list.txt", "X__0_0.B\nY__0_0.B\n");
  const Args list = {"img.vem", "-fl", "list.txt", "-ow"};
  ASSERT_EQ(run(list).status, 0);
  const Bytes fresh = read_file("img.vem");
  // The journal as its first sync leaves it, and so as a power cut keeps it
  // when the run is cut off before its second sync.
  Bytes synced, journal;
  for (const int sync : {1, 2}) {
    write_file("img.vem", old);
    EXPECT_EQ(run(list, injected("fdatasync:signal=KILL", sync)).status, KILLED_STATUS);
    journal = read_file("img.vem.jnl");
    ::unlink(path("img.vem.jnl").c_str());
    if (sync == 1) synced = journal;
  }
  write_file("img.vem.jnl", journal.substr(0, synced.size()));
  EXPECT_EQ(run({"img.vem", "-ii"}).status, 0);
  const Bytes after = read_file("img.vem");
  EXPECT_TRUE(after == old || after == fresh) << "neither old nor new";
}

}  // namespace

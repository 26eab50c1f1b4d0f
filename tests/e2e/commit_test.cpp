// The commit of every writing command: the same bytes as a full rewrite,
// nothing left half-done by a kill or a failed write, writers serialized.
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <regex>

#include "harness.h"

namespace {

// The images every command is tried on: packed by this tool; made elsewhere
// with gaps between slots and files and stray bytes in the free areas; and
// one whose file ends behind its last file, short of its declared size.
enum class Shape { packed, made_elsewhere, short_file };

Bytes shaped_image(Shape shape) {
  RawImage image{1, 8, 1023, {}, {}};
  const std::vector<std::pair<std::string, int>> files = {
      {"A", 300}, {"B", 129}, {"C", 0}, {"D", 1000}};
  const bool gaps = shape == Shape::made_elsewhere;
  int sector = 9 + (gaps ? 2 : 0);
  for (std::size_t i = 0; i < files.size(); ++i) {
    const int slot = static_cast<int>(gaps ? i * 2 + 1 : i);
    const auto& [name, length] = files[i];
    image.slots.push_back(
        {slot, raw_entry('B', name, sector, 0x100 * int(i), length, int(i) % 4, "Long " + name)});
    image.data.push_back(
        {sector, pattern_bytes(length, int(i)) + Bytes((128 - length % 128) % 128, '\xFF')});
    sector += (length + 127) / 128 + (gaps ? 3 : 0);
  }
  if (gaps) {
    image.slots.push_back({0, " stray slot bytes" + Bytes(15, 'x')});  // free: starts with a blank
    image.slots.push_back({6, Bytes(1, '\xE5') + "also free" + Bytes(22, '\x01')});
    image.data.push_back({10, Bytes(128, '\0')});                // between files
    image.data.push_back({900, "stray data in a free sector"});  // behind the last file
  }
  Bytes bytes = build_raw_image(image);
  if (shape == Shape::short_file) bytes.resize(static_cast<std::size_t>(sector) * 128);
  return bytes;
}

const char* shape_name(Shape shape) {
  return shape == Shape::packed           ? "packed"
         : shape == Shape::made_elsewhere ? "made elsewhere"
                                          : "short file";
}

struct WritingCommand {
  const char* name;
  Args args;
};

void PrintTo(const WritingCommand& command, std::ostream* out) { *out << command.name; }

const std::vector<WritingCommand>& writing_commands() {
  static const std::vector<WritingCommand> commands = {
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
  return commands;
}

// More calls than any command here makes: a run that is still cut short at
// this count fails for another reason.
constexpr int MAX_FAULTS = 200;

class CommitTest : public E2eTest, public ::testing::WithParamInterface<WritingCommand> {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    write_file("new.bin", pattern_bytes(1000, 7));
    write_file("a.b", pattern_bytes(700, 8));
    write_file("CX_Long#20n_4096_3.B", pattern_bytes(200, 9));
    write_file("l1.bin", pattern_bytes(130, 10));
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
    return result;
  }
  // The command on the made-elsewhere image with `fault` planned at its
  // 1st, 2nd, ... call until a run completes with `fresh`; `check` judges each
  // run that did not. Inside this process on the fault double, or, `traced`,
  // the built tool under strace with that fault injected. Returns how many
  // runs did not complete.
  template <class Check>
  int fault_until_done(
      Fault fault, const std::string& traced, const Bytes& fresh, const Check& check) {
    for (fault.at = 1; fault.at < MAX_FAULTS; ++fault.at) {
      SCOPED_TRACE(traced + " #" + std::to_string(fault.at));
      write_file("img.vem", shaped_image(Shape::made_elsewhere));
      const RunResult result = traced.empty() ? run_inside(command_line(), fault)
                                              : run(command_line(), injected(traced, fault.at));
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
  // Kills the command at every call that changes a file: the image is the
  // old or the new one once the next run has opened it, and so is a copy of
  // the folder (another inode, as after a backup or a disk mounted again).
  int kill_everywhere(const std::string& traced) {
    const Bytes old = shaped_image(Shape::made_elsewhere);
    Bytes fresh;
    EXPECT_EQ(reference_run(Shape::made_elsewhere, fresh).status, 0);
    const Fault kill{FaultKind::kill};
    return fault_until_done(kill, traced, fresh, [&](const RunResult& r) {
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

}  // namespace

TEST_P(CommitTest, LeavesTheBytesOfAFullRewrite) {
  for (Shape shape : {Shape::packed, Shape::made_elsewhere, Shape::short_file}) {
    SCOPED_TRACE(shape_name(shape));
    Bytes expected;
    const RunResult reference = reference_run(shape, expected);
    ::unlink(path("img.vem.tmp").c_str());
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
    EXPECT_EQ(list_dir(), before);  // no side file stays behind
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
  ASSERT_EQ(reference_run(Shape::made_elsewhere, fresh).status, 0);
  int failures = 0;
  for (const Fault& fault : {Fault{FaultKind::fail, FaultCalls::writes},
           Fault{FaultKind::short_write, FaultCalls::writes},
           Fault{FaultKind::fail, FaultCalls::syncs}}) {
    failures += fault_until_done(fault, "", fresh, [&](const RunResult& r) {
      EXPECT_EQ(r.status, 14);
      EXPECT_EQ(r.err.rfind("Can't write to the file '", 0), 0u) << r.err;
      expect_bytes(read_file("img.vem"), shaped_image(Shape::made_elsewhere));
    });
  }
  RecordProperty("failure_points", failures);
}

INSTANTIATE_TEST_SUITE_P(Commands, CommitTest, ::testing::ValuesIn(writing_commands()),
    [](const auto& info) { return std::string(info.param.name); });

// A standard stream the caller closed is never taken by the image: each
// command leaves the image as it does with all three open, and output that
// cannot be written fails the run as it does on a full disk.
using ClosedStreamTest = CommitTest;
TEST_P(ClosedStreamTest, LeavesTheImageAsWithAllStreamsOpen) {
  write_file("img.vem", shaped_image(Shape::packed));
  const int status = run(command_line()).status;
  const Bytes expected = read_file("img.vem");
  for (const int stream : {0, 1, 2}) {
    SCOPED_TRACE(stream);
    write_file("img.vem", shaped_image(Shape::packed));
    RunOptions closed;
    closed.closed_stream = stream;
    const RunResult result = run(command_line(), closed);
    EXPECT_EQ(result.status, stream == 1 && status == 0 ? 14 : status);
    expect_bytes(read_file("img.vem"), expected);
  }
}

std::vector<WritingCommand> every_command() {
  std::vector<WritingCommand> commands = writing_commands();
  commands.insert(commands.end(), {{"Catalogue", {"-c"}}, {"Info", {"-ii"}},
                                      {"Extract", {"-fx", "*", "-cfn", "-cfnl", "list.txt"}},
                                      {"LoaderInfoOfMissingFile", {"-li", "GAME.B"}}});
  return commands;
}
INSTANTIATE_TEST_SUITE_P(Commands, ClosedStreamTest, ::testing::ValuesIn(every_command()),
    [](const auto& info) { return std::string(info.param.name); });

using CommitSafetyTest = E2eTest;

// The built tool killed by strace at every write, sync, rename, removal,
// link and truncation, for a few commands: proof that the double tells the
// truth about the real system calls.
using TracedCommitTest = CommitTest;
TEST_P(TracedCommitTest, KilledAnywhereLeavesTheOldOrTheNewImage) {
  if (strace_path().empty()) GTEST_SKIP() << "strace is not installed (apt-get install strace)";
  int kills = 0;
  for (const char* call : {"pwrite64", "fdatasync", "rename", "unlink", "link", "ftruncate"})
    kills += kill_everywhere(std::string(call) + ":signal=KILL");
  EXPECT_GT(kills, 0);
}
INSTANTIATE_TEST_SUITE_P(Commands, TracedCommitTest,
    ::testing::ValuesIn(std::vector<WritingCommand>(
        {writing_commands()[4], writing_commands()[6], writing_commands()[9]})),
    [](const auto& info) { return std::string(info.param.name); });

// Moving 300 kB writes a journal larger than the buffer it passes through:
// a kill or failed write at any point of it, or of the moves, still leaves
// the old image or the new one.
TEST_F(CommitSafetyTest, LargeMoveKilledAnywhereOrFailedWrite) {
  RawImage image{1, 8, 4095, {}, {}};
  for (int i = 0; i < 6; ++i) {
    const int sector = 9 + 469 * i;
    image.slots.push_back({i, raw_entry('B', "F" + std::to_string(i), sector, 0, 60000, 0, "")});
    image.data.push_back({sector, pattern_bytes(60000, i) + Bytes(32, '\xFF')});
  }
  const Bytes old = build_raw_image(image);
  write_file("img.vem", old);
  ASSERT_EQ(run({"img.vem", "-fd", "F0.B"}).status, 0);
  const Bytes fresh = read_file("img.vem");
  for (Fault fault : {Fault{FaultKind::kill}, Fault{FaultKind::fail, FaultCalls::writes}}) {
    for (fault.at = 1; fault.at < MAX_FAULTS; ++fault.at) {
      SCOPED_TRACE(fault.at);
      write_file("img.vem", old);
      const int status = run_inside({"img.vem", "-fd", "F0.B"}, fault).status;
      if (status == 0) break;
      ASSERT_EQ(run_inside({"img.vem", "-ii"}).status, 0);
      const Bytes after = read_file("img.vem");
      EXPECT_TRUE(after == old || (status != 14 && after == fresh)) << "neither old nor new";
    }
  }
}

TEST_F(CommitSafetyTest, SimultaneousAddsAllArriveWhole) {
  create_image("img.vem", 1024);
  for (int i = 0; i < 16; ++i)
    write_file("f" + std::to_string(i) + ".bin", pattern_bytes(1000 + 300 * i, i));
  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const std::string script = "cd '" + dir_ + "' && for i in $(seq 0 15); do '" + VEMTOOL_BINARY +
                               "' img.vem -fa f$i.bin -ow >/dev/null 2>err$i & done; wait";
    ASSERT_EQ(std::system(script.c_str()), 0);
    make_dir("out");
    ASSERT_EQ(run({"img.vem", "-fx", "out/*"}).status, 0);
    for (int i = 0; i < 16; ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(read_file("err" + std::to_string(i)), "");
      expect_bytes(read_file("out/F" + std::to_string(i) + ".B"), pattern_bytes(1000 + 300 * i, i));
    }
  }
}

// A journal whose writing was cut short goes; a file of the user's that
// happens to bear a side file's name stays.
TEST_F(CommitSafetyTest, StaleSideFilesAreDealtWithByTheNextRun) {
  create_image("img.vem");
  const Bytes image = read_file("img.vem");
  write_file("img.vem.new", "the user's own file");
  write_file("img.vem.jnl", "VEMJRNL");
  expect_run(run({"img.vem", "-ii"}),
      "VEM image info: img.vem\nVEM image size: 512 kB (4096 sectors)\nVEM BOOT "
      "size: 256 bytes\nDirectory items: 32 (1024 bytes)\nCapacity: 510.75 kB (4086 "
      "secotrs)\n\nFiles: 0\n"
      "Used space: 0 kB\nFree space: 510.75 kB\n",
      "", 0);
  EXPECT_EQ(read_file("img.vem"), image);
  EXPECT_EQ(list_dir(), (Args{"boot.bin", "img.vem", "img.vem.new"}));
}

// A run waits for another that holds the image, and gives up after the
// wait (on a clock that here takes no time), naming the image; the image
// is left as it was.
TEST_F(CommitSafetyTest, ARunWaitsForTheLockThenGivesUpNamingTheImage) {
  create_image("img.vem");
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
  if (strace_path().empty()) GTEST_SKIP() << "strace is not installed (apt-get install strace)";
  create_image("img.vem", 64);
  write_file("x.b", pattern_bytes(1000, 1) + Bytes(500, '\xFF'));
  ASSERT_EQ(run({"img.vem", "-fa", "x.b"}).status, 0);
  const Bytes old = read_file("img.vem");
  write_file("X__0_0.B", pattern_bytes(200, 2));
  write_file("Y__0_0.B", pattern_bytes(1200, 3));
  write_file("list.txt", "X__0_0.B\nY__0_0.B\n");
  ASSERT_EQ(run({"img.vem", "-fl", "list.txt", "-ow"}).status, 0);
  const Bytes fresh = read_file("img.vem");
  // The journal as its first sync leaves it, and so as a power cut keeps it
  // when the run is cut off before its second sync.
  std::size_t synced = 0;
  Bytes journal;
  for (const int sync : {1, 2}) {
    write_file("img.vem", old);
    const Args list = {"img.vem", "-fl", "list.txt", "-ow"};
    EXPECT_EQ(run(list, injected("fdatasync:signal=KILL", sync)).status, 128 + SIGKILL);
    journal = read_file("img.vem.jnl");
    ::unlink(path("img.vem.jnl").c_str());
    if (sync == 1) synced = journal.size();
  }
  write_file("img.vem.jnl", journal.substr(0, synced));
  EXPECT_EQ(run({"img.vem", "-ii"}).status, 0);
  const Bytes after = read_file("img.vem");
  EXPECT_TRUE(after == old || after == fresh) << "neither old nor new";
}

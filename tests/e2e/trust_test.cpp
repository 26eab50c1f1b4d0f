// Nothing at a side file's name is trusted, and reading needs no write
// access: images of other users, read-only images, links planted beside an
// image or among extracted files.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "harness.h"

namespace {

class TrustTest : public E2eTest {
 protected:
  // img.vem in `folder` with files F0.B ... F4.B and a Loader, owned by
  // `owner`; the state it holds is returned.
  Bytes make_image(const std::string& folder, int owner = NOBODY) {
    create_image("img.vem");
    for (int i = 0; i < 5; ++i) {
      write_file("f" + std::to_string(i) + ".b", pattern_bytes(300 + 100 * i, i));
      EXPECT_EQ(run({"img.vem", "-fa", "f" + std::to_string(i) + ".b"}).status, 0);
    }
    EXPECT_EQ(run({"img.vem", "-ml", "LDR.L", "F0.B", "F1.B"}).status, 0);
    if (!folder.empty()) ::rename(path("img.vem").c_str(), path(folder + "/img.vem").c_str());
    give_to_nobody(image(folder), owner);
    return read_file(image(folder));
  }
  static std::string image(const std::string& folder) {
    return folder.empty() ? "img.vem" : folder + "/img.vem";
  }
  // A genuine journal of `folder`'s image: the one a -fd killed after its
  // first write to the image leaves. The image is put back as it was.
  Bytes half_done_journal(const std::string& folder) {
    const Bytes before = read_file(image(folder));
    EXPECT_EQ(run({image(folder), "-fd", "F1.B"}, injected("pwrite64:signal=KILL", 3)).status,
        128 + SIGKILL);
    const Bytes journal = read_file(image(folder) + ".jnl");
    write_file(image(folder), before);
    ::unlink(path(image(folder) + ".jnl").c_str());
    return journal;
  }
  void make_folder(const std::string& name, mode_t mode) {
    make_dir(name);
    ::chmod(path(name).c_str(), mode);
  }
};

}  // namespace

// A person who may read an image but not write it (mode 0444, in a folder
// they may not write) lists, describes and extracts it; a change left
// half-done beside it is refused, never shown, until a writer rolls it back.
TEST_F(TrustTest, ReadingCommandsNeedNoWriteAccess) {
  if (strace_path().empty()) GTEST_SKIP() << "strace is not installed (apt-get install strace)";
  make_folder("shelf", 0777);
  const Bytes old = make_image("shelf", 0);
  make_folder("out", 0777);
  ::chmod(path("shelf/img.vem").c_str(), 0444);
  ::chmod(path("shelf").c_str(), 0555);
  for (const Args& command :
      std::vector<Args>{{"-c"}, {"-ii"}, {"-fx", "out/*"}, {"-li", "LDR.L"}}) {
    SCOPED_TRACE(command[0]);
    const RunResult as_reader = run(Args{"shelf/img.vem"} + command, unprivileged());
    const RunResult as_owner = run(Args{"shelf/img.vem"} + command);
    expect_run(as_reader, as_owner.out.substr(out_with_banner("").size()), "", 0);
  }
  ::chmod(path("shelf").c_str(), 0777);
  write_file("shelf/img.vem.jnl", half_done_journal("shelf"));
  ::chmod(path("shelf/img.vem").c_str(), 0444);
  const Bytes half_done = read_file("shelf/img.vem");
  expect_run(run({"shelf/img.vem", "-c"}, unprivileged()), "",
      "Can't roll back the unfinished change of 'shelf/img.vem' without write access to it!", 33);
  expect_bytes(read_file("shelf/img.vem"), half_done);
  EXPECT_TRUE(exists("shelf/img.vem.jnl"));
  EXPECT_EQ(run({"shelf/img.vem", "-c"}).status, 0);  // the owner may: rolled back
  expect_bytes(read_file("shelf/img.vem"), old);
  EXPECT_FALSE(exists("shelf/img.vem.jnl"));
}

struct FolderCase {
  const char* name;
  mode_t mode;
};
PARAM_FIXTURE(PlantedTest, TrustTest, FolderCase);

// A journal is replayed only when it is a plain file of the image's owner
// that no one else may write who may not write the image, and only by a run
// that may write the image.
// Anything else is refused and kept, whoever may write the folder.
TEST_P(PlantedTest, JournalIsReplayedOnlyWhenItIsTheOwnersOwn) {
  if (strace_path().empty()) GTEST_SKIP() << "strace is not installed (apt-get install strace)";
  make_folder("f", GetParam().mode);
  const Bytes old = make_image("f");
  const Bytes journal = half_done_journal("f");
  const std::string refused =
      "Can't use the journal 'f/img.vem.jnl' for 'f/img.vem'! Remove it "
      "if the image is as it should be.";
  struct Plant {
    const char* what;
    int owner;
    mode_t mode;
    bool link;
    RunOptions user;
    std::string err;
    int status;
  };
  for (const Plant& plant : {
           Plant{"another user's", OTHER_USER, 0644, false, unprivileged(), refused, 34},
           Plant{"a link to the owner's", NOBODY, 0644, true, unprivileged(), refused, 34},
           Plant{"open to more writers", NOBODY, 0666, false, unprivileged(), refused, 34},
           Plant{"the owner's, for a reader", NOBODY, 0644, false, as_user(OTHER_USER),
               "Can't roll back the unfinished change of 'f/img.vem' without write access to it!",
               33},
       }) {
    SCOPED_TRACE(plant.what);
    write_file("elsewhere.jnl", journal);
    ::chmod(path("elsewhere.jnl").c_str(), plant.mode);
    give_to_nobody("elsewhere.jnl", plant.owner);
    if (plant.link) {
      ASSERT_EQ(::symlink(path("elsewhere.jnl").c_str(), path("f/img.vem.jnl").c_str()), 0);
    } else {
      ASSERT_EQ(::rename(path("elsewhere.jnl").c_str(), path("f/img.vem.jnl").c_str()), 0);
    }
    give_to_nobody("f/img.vem.jnl", plant.owner);
    expect_run(run({"f/img.vem", "-c"}, plant.user), "", plant.err, plant.status);
    expect_bytes(read_file("f/img.vem"), old);
    EXPECT_TRUE(exists("f/img.vem.jnl"));
    ::unlink(path("f/img.vem.jnl").c_str());
  }
}

// Links planted at the names of side files are never followed, and a file
// of the user's that bears such a name is left alone.
TEST_P(PlantedTest, SideFilesAreNeverOpenedThroughALink) {
  make_folder("f", GetParam().mode);
  const Bytes old = make_image("f");
  ::chmod(path("f/img.vem").c_str(), 0600);
  write_file("victim", "the owner's file");
  give_to_nobody("victim");
  for (const char* side : {"f/img.vem.new", "f/img.vem.tmp"}) {
    ASSERT_EQ(::symlink(path("victim").c_str(), path(side).c_str()), 0);
    give_to_nobody(side, OTHER_USER);
  }
  const bool sticky = (GetParam().mode & S_ISVTX) != 0;
  // In a sticky folder the planted IMAGE.tmp cannot be replaced: refused.
  expect_run(run({"f/img.vem", "-ir", "-is", "64"}, unprivileged()),
      "Reconfiguring VEM image: f/img.vem\n" +
          std::string(sticky ? "  VEM image size: 512 kB -> 64 kB\n\n"
                             : "  VEM image size: 512 kB -> 64 kB\n\nVEM image size: 64 kB (512 "
                               "sectors)\nVEM BOOT size: 256 bytes\nDirectory items: 32 (1024 "
                               "bytes)\nCapacity: 62.75 kB (502 secotrs)\n\n"),
      sticky ? "Can't access output file 'f/img.vem.tmp' for writing!" : "", sticky ? 13 : 0);
  EXPECT_EQ(read_file("victim"), "the owner's file");
  EXPECT_EQ(read_file("f/img.vem").size(), sticky ? old.size() : 65536u);
  struct stat status {};
  ASSERT_EQ(::lstat(path("f/img.vem.new").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  ASSERT_EQ(::stat(path("f/img.vem").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);
}

INSTANTIATE_TEST_SUITE_P(Folders, PlantedTest,
    ::testing::Values(FolderCase{"Sticky", 01777}, FolderCase{"Plain", 0777}), CaseName());

// Extraction writes inside its target only: a link or a second name at an
// output name is refused, never written through.
TEST_F(TrustTest, ExtractionNeverWritesThroughALink) {
  make_image("");
  make_dir("out");
  make_dir("elsewhere");
  write_file("victim", "kept");
  for (const char* how : {"symbolic", "dangling", "hard"}) {
    SCOPED_TRACE(how);
    const std::string at = path("out/F0.B");
    const std::string h = how;
    ASSERT_EQ(h == "hard"       ? ::link(path("victim").c_str(), at.c_str())
              : h == "dangling" ? ::symlink(path("elsewhere/made").c_str(), at.c_str())
                                : ::symlink(path("victim").c_str(), at.c_str()),
        0);
    expect_run(run({"img.vem", "-fx", "out/F0.B"}),
        "Extracting files by mask: F0.B\nTarget path: out/\n\nExtracting file: F0.B\n",
        "Can't open file 'out/F0.B' for writing!", 12);
    EXPECT_EQ(read_file("victim"), "kept");
    EXPECT_TRUE(list_dir("elsewhere").empty());
    ::unlink(at.c_str());
  }
}

// Two stored names that give one host name both arrive (a stored "A#01" and
// an "A" with a control character): the later one with one more escape. A
// file a failed write cut short is not left behind.
TEST_F(TrustTest, ExtractionKeepsEveryFileWhole) {
  write_file(
      "img.vem", build_raw_image({1, 8, 255,
                     {{0, raw_entry('B', "A#01", 9, 0, 3)}, {1, raw_entry('B', "A\x01", 10, 0, 5)},
                         {2, raw_entry('B', "BIG", 11, 0, 5000)}},
                     {{9, "one"}, {10, "other"}, {11, pattern_bytes(5000, 1)}}}));
  expect_run(run({"img.vem", "-fx", "A*"}),
      "Extracting files by mask: A???????\nTarget path: ./\n\nExtracting file: A#01.B\n"
      "Extracting file: #41#01.B\n\n2 file(s) extracted.\n\n",
      "", 0);
  EXPECT_EQ(read_file("A#01.B"), "one");
  EXPECT_EQ(read_file("#41#01.B"), "other");
  EXPECT_EQ(run({"img.vem", "-fx", "BIG.B"}, size_limited(4096)).status, 14);
  EXPECT_FALSE(exists("BIG.B"));
}

// -ir and -ic through a link change the file it names, and keep the
// permissions of the image they replace; a journal is found through it.
TEST_F(TrustTest, ImageNamedThroughALinkStaysALink) {
  create_image("img.vem");
  ::chmod(path("img.vem").c_str(), 0600);
  ASSERT_EQ(::symlink("img.vem", path("link.vem").c_str()), 0);
  for (const Args& command : {Args{"-ir", "-is", "64"}, Args{"-ic", "-is", "96"}}) {
    SCOPED_TRACE(command[0]);
    ASSERT_EQ(run(Args{"link.vem"} + command + Args{"-ib", "boot.bin"}).status, 0);
    struct stat status {};
    ASSERT_EQ(::lstat(path("link.vem").c_str(), &status), 0);
    EXPECT_TRUE(S_ISLNK(status.st_mode));
    ASSERT_EQ(::stat(path("img.vem").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);
    EXPECT_EQ(status.st_size, std::stol(command[2]) * 1024);
  }
  EXPECT_EQ(list_dir(), (Args{"boot.bin", "img.vem", "link.vem"}));
  // The journal goes by the file too: a run through the link finds it.
  write_file("img.vem.jnl", "VEMJRNL");
  EXPECT_EQ(run({"link.vem", "-ii"}).status, 0);
  EXPECT_FALSE(exists("img.vem.jnl"));
}

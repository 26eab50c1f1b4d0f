// Nothing at a side file's name is trusted, and reading needs no write
// access: images of other users, read-only images, links planted beside an
// image or among extracted files.
#include <sys/stat.h>
#include <unistd.h>

#include "harness.h"

namespace {

class TrustTest : public E2eTest {
 protected:
  // `folder`/img.vem with files F0.B ... F4.B and a Loader, owned by `owner`;
  // the state it holds is returned.
  Bytes make_image(const std::string& folder, int owner = NOBODY) {
    create_image("img.vem");
    for (int i = 0; i < 5; ++i) {
      write_file("f" + std::to_string(i) + ".b", pattern_bytes(300 + 100 * i, i));
      EXPECT_EQ(run_inside({"img.vem", "-fa", "f" + std::to_string(i) + ".b"}).status, 0);
    }
    EXPECT_EQ(run_inside({"img.vem", "-ml", "LDR.L", "F0.B", "F1.B"}).status, 0);
    ::rename(path("img.vem").c_str(), path(folder + "/img.vem").c_str());
    give_to_nobody(folder + "/img.vem", owner);
    return read_file(folder + "/img.vem");
  }
  // A genuine journal of `folder`'s image: the one a -fd killed after its
  // first write to the image leaves. The image is put back as it was.
  Bytes half_done_journal(const std::string& folder) {
    const std::string image = folder + "/img.vem";
    const Bytes before = read_file(image);
    EXPECT_EQ(
        run({image, "-fd", "F1.B"}, injected("pwrite64:signal=KILL", 3)).status, KILLED_STATUS);
    const Bytes journal = read_file(image + ".jnl");
    write_file(image, before);
    ::unlink(path(image + ".jnl").c_str());
    return journal;
  }
  bool is_link(const std::string& name) {
    struct stat status {};
    return ::lstat(path(name).c_str(), &status) == 0 && S_ISLNK(status.st_mode);
  }
  unsigned mode_of(const std::string& name) {
    struct stat status {};
    return ::stat(path(name).c_str(), &status) == 0 ? status.st_mode & 0777 : 0;
  }
};

// A person who may read an image but not write it (mode 0444, in a folder
// they may not write) lists, describes and extracts it; a change left
// half-done beside it is refused, never shown, until a writer rolls it back.
TEST_F(TrustTest, ReadingCommandsNeedNoWriteAccess) {
  make_dir("shelf");
  make_dir("out");
  const Bytes old = make_image("shelf", 0);
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
  unsigned mode;
};
PARAM_FIXTURE(PlantedTest, TrustTest, FolderCase);

// A journal is replayed only when it is a plain file of the image's owner
// that no one else may write who may not write the image, and only by a run
// that may write the image; anything else is refused and kept, whoever may
// write the folder. Links planted at the names of side files are never
// followed: in a sticky folder a planted IMAGE.tmp cannot be replaced, so
// -ir is refused; elsewhere it goes on, and the victim is never written.
TEST_P(PlantedTest, NothingPlantedIsTrusted) {
  make_dir("f", GetParam().mode);
  const Bytes old = make_image("f");
  const Bytes journal = half_done_journal("f");
  const std::string refused =
      "Can't use the journal 'f/img.vem.jnl' for 'f/img.vem'! Remove it if the image is as it "
      "should be.";
  struct Plant {
    const char* what;
    int owner;
    unsigned mode;
    bool link;
    int user, status;
  };
  for (const Plant& plant : {Plant{"another user's", OTHER_USER, 0644, false, NOBODY, 34},
           Plant{"a link to the owner's", NOBODY, 0644, true, NOBODY, 34},
           Plant{"open to more writers", NOBODY, 0666, false, NOBODY, 34},
           Plant{"the owner's, for a reader", NOBODY, 0644, false, OTHER_USER, 33}}) {
    SCOPED_TRACE(plant.what);
    write_file("elsewhere.jnl", journal);
    ::chmod(path("elsewhere.jnl").c_str(), plant.mode);
    give_to_nobody("elsewhere.jnl", plant.owner);
    const std::string jnl = path("f/img.vem.jnl");
    ASSERT_EQ(plant.link ? ::symlink(path("elsewhere.jnl").c_str(), jnl.c_str())
                         : ::rename(path("elsewhere.jnl").c_str(), jnl.c_str()),
        0);
    give_to_nobody("f/img.vem.jnl", plant.owner);
    expect_run(run({"f/img.vem", "-c"}, unprivileged(plant.user)), "",
        plant.status == 34 ? refused
                           : "Can't roll back the unfinished change of 'f/img.vem' without "
                             "write access to it!",
        plant.status);
    expect_bytes(read_file("f/img.vem"), old);
    EXPECT_TRUE(exists("f/img.vem.jnl"));
    ::unlink(jnl.c_str());
  }

  ::chmod(path("f/img.vem").c_str(), 0600);
  write_file("victim", "the owner's file");
  give_to_nobody("victim");
  for (const char* side : {"f/img.vem.new", "f/img.vem.tmp"}) {
    ASSERT_EQ(::symlink(path("victim").c_str(), path(side).c_str()), 0);
    give_to_nobody(side, OTHER_USER);
  }
  const bool sticky = (GetParam().mode & S_ISVTX) != 0;
  const RunResult result = run({"f/img.vem", "-ir", "-is", "64"}, unprivileged());
  EXPECT_EQ(
      result.err, sticky ? err_line("Can't access output file 'f/img.vem.tmp' for writing!") : "");
  EXPECT_EQ(result.status, sticky ? 13 : 0);
  EXPECT_EQ(read_file("victim"), "the owner's file");
  EXPECT_EQ(read_file("f/img.vem").size(), sticky ? old.size() : 65536u);
  EXPECT_TRUE(is_link("f/img.vem.new"));
  EXPECT_EQ(mode_of("f/img.vem"), 0600u);
}

INSTANTIATE_TEST_SUITE_P(Folders, PlantedTest,
    ::testing::Values(FolderCase{"Sticky", 01777}, FolderCase{"Plain", 0777}), CaseName());

// Extraction writes inside its target only: a link or a second name at an
// output name is refused, never written through. Two stored names that give
// one host name both arrive (a stored "A#01" and an "A" with a control
// character): the later one with one more escape. A file a failed write cut
// short is not left behind.
TEST_F(TrustTest, ExtractionNeverWritesThroughALinkAndKeepsEveryFileWhole) {
  write_file("img.vem",
      build_raw_image({1, 8, 255,
          {{0, raw_entry('B', "A#01", 9, 0, 3)}, {1, raw_entry('B', "A\x01", 10, 0, 5)},
              {2, raw_entry('B', "BIG", 11, 0, 5000)}, {3, raw_entry('B', "#41#01", 9, 0, 3)}},
          {{9, "one"}, {10, "other"}, {11, pattern_bytes(5000, 1)}}}));
  make_dir("out");
  make_dir("elsewhere");
  write_file("victim", "kept");
  const std::string at = path("out/A#01.B");
  for (const std::string how : {"symbolic", "dangling", "hard"}) {
    SCOPED_TRACE(how);
    ASSERT_EQ(how == "hard"       ? ::link(path("victim").c_str(), at.c_str())
              : how == "dangling" ? ::symlink(path("elsewhere/made").c_str(), at.c_str())
                                  : ::symlink(path("victim").c_str(), at.c_str()),
        0);
    expect_run(run({"img.vem", "-fx", "out/A#01.B"}),
        "Extracting files by mask: A#01.B\nTarget path: out/\n\nExtracting file: A#01.B\n",
        "Can't open file 'out/A#01.B' for writing!", 12);
    EXPECT_EQ(read_file("victim"), "kept");
    EXPECT_TRUE(list_dir("elsewhere").empty());
    ::unlink(at.c_str());
  }
  expect_run(run({"img.vem", "-fx", "A*"}),
      "Extracting files by mask: A???????\nTarget path: ./\n\nExtracting file: A#01.B\n"
      "Extracting file: #41#01.B\n\n2 file(s) extracted.\n\n",
      "", 0);
  EXPECT_EQ(read_file("A#01.B"), "one");
  EXPECT_EQ(read_file("#41#01.B"), "other");
  // A name whose every character is an escape already has none left to give.
  expect_run(run({"img.vem", "-fx", "*"}), "-", "Can't open file './#41#01.B' for writing!", 12);
  EXPECT_EQ(run({"img.vem", "-fx", "BIG.B"}, size_limited(4096)).status, 14);
  EXPECT_FALSE(exists("BIG.B"));
}

// An image shared through its group and rebuilt by a member who does not own
// it keeps its group and permissions: the others keep their access.
TEST_F(TrustTest, ImageRebuiltByAGroupMemberKeepsItsGroup) {
  make_dir("shared");
  make_image("shared", OTHER_USER);
  ::chmod(path("shared/img.vem").c_str(), 0660);
  ASSERT_EQ(
      run({"shared/img.vem", "-ir", "-is", "64"}, unprivileged(NOBODY, OTHER_USER)).status, 0);
  struct stat status {};
  ASSERT_EQ(::stat(path("shared/img.vem").c_str(), &status), 0);
  EXPECT_EQ(status.st_uid, unsigned(NOBODY));
  EXPECT_EQ(status.st_gid, unsigned(OTHER_USER));
  EXPECT_EQ(status.st_mode & 07777, 0660u);
}

// -ir and -ic through a link change the file it names, and keep the
// permissions and owner of the image they replace; a journal is found through it.
TEST_F(TrustTest, ImageNamedThroughALinkStaysALink) {
  create_image("img.vem");
  ::chmod(path("img.vem").c_str(), 0600);
  give_to_nobody("img.vem");
  ASSERT_EQ(::symlink("img.vem", path("link.vem").c_str()), 0);
  for (const Args& command : {Args{"-ir", "-is", "64"}, Args{"-ic", "-is", "96"}}) {
    SCOPED_TRACE(command[0]);
    ASSERT_EQ(run(Args{"link.vem"} + command + Args{"-ib", "boot.bin"}).status, 0);
    EXPECT_TRUE(is_link("link.vem"));
    EXPECT_EQ(mode_of("img.vem"), 0600u);
    EXPECT_EQ(read_file("img.vem").size(), std::stoul(command[2]) * 1024);
    struct stat status {};
    EXPECT_TRUE(::stat(path("img.vem").c_str(), &status) == 0 && status.st_uid == NOBODY);
  }
  EXPECT_EQ(list_dir(), (Args{"boot.bin", "img.vem", "link.vem"}));
  // The journal goes by the file too: a run through the link finds it.
  write_file("img.vem.jnl", "VEMJRNL");
  EXPECT_EQ(run({"link.vem", "-ii"}).status, 0);
  EXPECT_FALSE(exists("img.vem.jnl"));
}

}  // namespace

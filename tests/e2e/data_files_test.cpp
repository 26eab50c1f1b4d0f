// Where the data files are looked up: beside the program path as invoked,
// beside the executable, in the installed data directory.
#include <filesystem>

#include "harness.h"

namespace {

// The current directory (the program was found through PATH), beside the
// executable, the installed data directory; then none of them.
const Args PLACES = {"", "inst/bin/", "inst/share/vemtool/", "nowhere"};

int u16_at(const Bytes& bytes, std::size_t at) {
  return (bytes[at] & 0xFF) | (bytes[at + 1] & 0xFF) << 8;
}

// sizes: of the file in each place, so that the image tells which one a run
// took (`taken` reads it back); `shows`: the report line naming the file.
struct DataFile {
  const char *name, *file;
  Args command;
  Bytes (*make)(int);
  int sizes[3];
  int (*taken)(const Bytes&);
  std::string failed_out, shows = "";
};
PARAM_FIXTURE(DataFileTest, E2eTest, DataFile);

TEST_P(DataFileTest, EachFileIsTakenFromTheFirstPlaceThatHoldsIt) {
  const DataFile& c = GetParam();
  create_image("img.vem");  // 2 boot sectors: the directory starts at byte 256
  const Bytes image = read_file("img.vem");
  write_file("x.bin", "x");
  for (const char* dir : {"inst", "inst/bin", "inst/share", "inst/share/vemtool"}) make_dir(dir);
  copy_binary("inst/bin/vemtool");
  for (std::size_t first = 0; first < PLACES.size(); ++first) {
    SCOPED_TRACE(PLACES[first]);
    write_file("img.vem", image);
    for (std::size_t place = 0; place < 3; ++place) {
      const std::string data = path(PLACES[place] + c.file);
      if (place < first) std::filesystem::remove(data);
      if (place >= first) write_file(PLACES[place] + c.file, c.make(c.sizes[place]));
    }
    // The installed copy as a shell finds it through PATH, from the test directory.
    const RunResult result =
        run(Args{"-c", "PATH=\"$0:$PATH\" exec vemtool \"$@\"", path("inst/bin"), "img.vem"} +
                c.command,
            invoked_as("sh", "/bin/sh"));
    if (first == 3) {  // the message names the file where the program's directory would hold it
      expect_run(
          result, c.failed_out, "Can't open file '" + std::string(c.file) + "' for reading!", 6);
      continue;
    }
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(c.taken(read_file("img.vem")), c.sizes[first]);
    const std::string used =
        first == 0 ? "" : std::filesystem::canonical(dir_).string() + "/" + PLACES[first];
    const std::string shown = "\n" + c.shows + used + c.file + "\n";
    EXPECT_TRUE(c.shows.empty() || result.out.find(shown) != std::string::npos) << result.out;
  }
}

INSTANTIATE_TEST_SUITE_P(Lookup, DataFileTest,
    ::testing::Values(DataFile{"Booter", "vem-boot.bin", {"-ic"}, make_booter, {128, 256, 384},
                          [](const Bytes& image) { return (image[12] & 0xFF) * 128; },
                          "Creating VEM image: img.vem\n", "VEM BOOT file: "},
        DataFile{"Template", "vem-ldr.bin", {"-ml", "ldr.l", "pic.p", "code.c"},
            [](int size) {
              return pattern_bytes(size, 3)
                  .replace(0, 3, "\xC3\x10\x7F")
                  .replace(21, 2, "\xFF\xFF");
            },
            {40, 50, 60}, [](const Bytes& image) { return u16_at(image, 256 + 13); },
            "Creating and adding Loader file into image: LDR.L\n"},
        DataFile{"Routine", "unpckpsc.bin", {"-fa", "x.bin", "-psc"},
            [](int size) { return pattern_bytes(size, 9); }, {10, 20, 30},
            [](const Bytes& image) { return u16_at(image, 256 + 13) - 1; }, "Adding file: X.B\n"}),
    CaseName());

// The default Booter lies beside the program path as invoked, split at its
// last '/', or, when there is none, at its last '\'.
using BooterPathTest = E2eTest;
TEST_F(BooterPathTest, DefaultBooterLiesBesideTheProgramPath) {
  make_dir("bin");
  for (const auto& [argv0, booter] :
      {std::pair<std::string, std::string>{"bin/vemtool", "bin/vem-boot.bin"},
          {"bin/x\\vemtool", "bin/vem-boot.bin"}, {"bin\\vemtool", "bin\\vem-boot.bin"}}) {
    write_file(booter, make_booter(300));
    const RunResult result = run({"img.vem", "-ic"}, invoked_as(argv0));
    EXPECT_NE(result.out.find("\nVEM BOOT file: " + booter + "\n"), std::string::npos) << argv0;
    EXPECT_EQ(result.status, 0) << result.err;
  }
}

}  // namespace

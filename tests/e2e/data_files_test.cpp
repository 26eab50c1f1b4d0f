// Where the data files are looked up: beside the program path as invoked,
// beside the executable, in the installed data directory.
#include <filesystem>

#include "harness.h"

namespace {

using DataFileTest = E2eTest;

// Each file is taken from the first place that holds it: the current
// directory (the program was found through PATH), beside the executable, the
// installed data directory; in none of them, the message names it where the
// program's directory would hold it. The image tells which one a run took:
// the Booter by its boot sectors, the template and the routine by the length
// of the file they make. Where the run prints the path of a Booter, it is
// the one it used.
TEST_F(DataFileTest, EachFileIsTakenFromTheFirstPlaceThatHoldsIt) {
  create_image("img.vem");  // 2 boot sectors: the directory starts at byte 256
  const Bytes image = read_file("img.vem");
  write_file("x.bin", "x");
  for (const char* dir : {"inst", "inst/bin", "inst/share", "inst/share/vemtool"}) make_dir(dir);
  copy_binary("inst/bin/vemtool");
  const Args places = {"", "inst/bin/", "inst/share/vemtool/"};
  const std::string used = std::filesystem::canonical(dir_).string() + "/";
  const struct {
    const char* file;
    Args command;
    int sizes[3];
    std::string failed_out;
  } files[] = {{"vem-boot.bin", {"-ic"}, {128, 256, 384}, "Creating VEM image: img.vem\n"},
      {"vem-ldr.bin", {"-ml", "ldr.l", "pic.p", "code.c"}, {40, 50, 60},
          "Creating and adding Loader file into image: LDR.L\n"},
      {"unpckpsc.bin", {"-fa", "x.bin", "-psc"}, {10, 20, 30}, "Adding file: X.B\n"}};
  for (int k = 0; k < 3; ++k) {
    const auto& c = files[k];
    for (std::size_t first = 0; first <= places.size(); ++first) {
      SCOPED_TRACE(std::string(c.file) + " first in place " + std::to_string(first));
      write_file("img.vem", image);
      for (std::size_t place = 0; place < places.size(); ++place) {
        const int size = c.sizes[place];
        std::filesystem::remove(path(places[place] + c.file));
        if (place == 0 && first > 0) make_dir(c.file);  // a folder of that name is no file
        if (place < first) continue;
        write_file(places[place] + c.file,
            k == 0 ? make_booter(size)
            : k == 1
                ? pattern_bytes(size, 3).replace(0, 3, "\xC3\x10\x7F").replace(21, 2, "\xFF\xFF")
                : pattern_bytes(size, 9));
      }
      const RunResult result =
          run(Args{"-c", "PATH=\"$0:$PATH\" exec vemtool \"$@\"", path("inst/bin"), "img.vem"} +
                  c.command,
              invoked_as("sh", "/bin/sh"));
      if (first == places.size()) {
        expect_run(
            result, c.failed_out, "Can't open file '" + std::string(c.file) + "' for reading!", 6);
        continue;
      }
      ASSERT_EQ(result.status, 0) << result.err;
      const Bytes after = read_file("img.vem");
      EXPECT_EQ(
          k == 0 ? (after[12] & 0xFF) * 128 : (after[256 + 13] & 0xFF) - (k == 2), c.sizes[first]);
      const std::string shown = "\nVEM BOOT file: " + (first ? used + places[first] : "") + c.file;
      EXPECT_TRUE(k != 0 || result.out.find(shown + "\n") != std::string::npos) << result.out;
    }
  }
}

// The default Booter lies beside the program path as invoked, split at its
// last '/', or, when there is none, at its last '\'.
TEST_F(DataFileTest, DefaultBooterLiesBesideTheProgramPath) {
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

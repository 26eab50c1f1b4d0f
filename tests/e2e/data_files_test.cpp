#include <array>
#include <filesystem>
#include <tuple>

#include "harness.h"

namespace {

// Where a data file may lie, in the order the tool looks: the current directory (the program was
// found through PATH), beside the executable, the installed data directory; NOWHERE: in none of
// them.
enum Place { HERE, BESIDE_EXECUTABLE, INSTALLED, NOWHERE };
const std::array<std::string, 3> kDirs = {"", "inst/bin/", "inst/share/vemtool/"};

Bytes loader_template(int size) {
  return pattern_bytes(size, 3).replace(0, 3, "\xC3\x10\x7F").replace(21, 2, "\xFF\xFF");
}
Bytes routine(int size) { return pattern_bytes(size, 9); }

// sizes: of the file in each place, so that the image tells which one a run took (`taken` reads it
// back).
struct DataFile {
  const char *label, *name;
  Args command;
  Bytes (*make)(int);
  std::array<int, 3> sizes;
  int (*taken)(const Bytes&);
  std::string failed_out;
  std::string shows = "";  // shows: the report line that names the file taken
};

const DataFile kFiles[] = {
    {"Booter", "vem-boot.bin", {"-ic"}, make_booter, {128, 256, 384},
        [](const Bytes& image) { return static_cast<unsigned char>(image[12]) * 128; },
        "Creating VEM image: img.vem\n", "VEM BOOT file: "},
    {"Template", "vem-ldr.bin", {"-ml", "ldr.l", "pic.p", "code.c"}, loader_template, {40, 50, 60},
        [](const Bytes& image) { return static_cast<int>(u16_at(image, 256 + 13)); },
        "Creating and adding Loader file into image: LDR.L\n"},
    {"Routine", "unpckpsc.bin", {"-fa", "x.bin", "-psc"}, routine, {10, 20, 30},
        [](const Bytes& image) { return u16_at(image, 256 + 13) - 1; }, "Adding file: X.B\n"},
};

void PrintTo(const DataFile& file, std::ostream* out) { *out << file.label; }

class DataFileTest : public E2eTest,
                     public ::testing::WithParamInterface<std::tuple<DataFile, Place>> {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    create_image("img.vem");  // 2 boot sectors: the directory starts at byte 256
    write_file("x.bin", "x");
    for (const char* dir : {"inst", "inst/bin", "inst/share", "inst/share/vemtool"}) make_dir(dir);
    copy_binary("inst/bin/vemtool");
  }

  // Runs the installed copy as a shell finds it through PATH, from the test directory.
  RunResult run_through_path(const Args& args) {
    RunOptions options;
    options.binary = "/bin/sh";
    options.argv0 = "sh";
    return run(
        Args{"-c", "PATH=\"$0:$PATH\" exec vemtool \"$@\"", path("inst/bin")} + args, options);
  }
};

TEST_P(DataFileTest, EachFileIsTakenFromTheFirstPlaceThatHoldsIt) {
  const auto& [file, first] = GetParam();
  for (int place = first; place < NOWHERE; ++place) {
    write_file(kDirs[place] + file.name, file.make(file.sizes[place]));
  }
  const RunResult result = run_through_path(Args{"img.vem"} + file.command);
  if (first == NOWHERE) {  // the message names the file where the program's directory would hold it
    expect_run(result, file.failed_out,
        "Can't open file '" + std::string(file.name) + "' for reading!", 6);
    return;
  }
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(file.taken(read_file("img.vem")), file.sizes[first]);
  if (file.shows.empty()) return;
  const std::string used =
      first == HERE ? "" : std::filesystem::canonical(dir_).string() + "/" + kDirs[first];
  EXPECT_NE(result.out.find("\n" + file.shows + used + file.name + "\n"), std::string::npos)
      << result.out;
}

std::string case_name(const ::testing::TestParamInfo<std::tuple<DataFile, Place>>& info) {
  const std::array<const char*, 4> places = {"Here", "BesideExecutable", "Installed", "Nowhere"};
  return std::get<0>(info.param).label + std::string(places[std::get<1>(info.param)]);
}

INSTANTIATE_TEST_SUITE_P(Lookup, DataFileTest,
    ::testing::Combine(::testing::ValuesIn(kFiles),
        ::testing::Values(HERE, BESIDE_EXECUTABLE, INSTALLED, NOWHERE)),
    case_name);

}  // namespace

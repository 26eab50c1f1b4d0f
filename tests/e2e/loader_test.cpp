#include <unistd.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "harness.h"

namespace {

// A template as the target machine expects it: JP 7Fxxh, no custom start, a marker where the
// monitor goes.
Bytes make_template(int size) {
  Bytes bytes = pattern_bytes(size, 7).replace(0, 3, "\xC3\x10\x7F");
  return size < 33 ? bytes : bytes.replace(21, 12, "\xFF\xFF\x5A?TEMPLATE");
}

// What "-ml ldr.l pic.p code.c" stores from make_template(size) with these settings.
Bytes made_from(
    int size, int flags, const Bytes& start = "\xFF\xFF", const Bytes& monitor = "?TEMPLATE") {
  return make_template(size).replace(
      3, 30, "PPIC     CCODE    " + start + static_cast<char>(flags) + monitor);
}

// The report of adding the Loader made from a `size`-byte template, its temporary file in
// `directory` masked.
std::string added(int size = 100, bool over = false, const std::string& directory = "bin/") {
  return "\nAdding file: LDR.L\n" +
         std::string(over ? "File already exist, will be overwritten.\n" : "") +
         "Source file: " + directory +
         "vemldrXXXXXX\nLong name:                 \nSize: " + std::to_string(size) + " bytes (" +
         (size > 128 ? "2" : "1") + " sectors)\nStart: 32512\nAttributes: List\n\n";
}

const Args kMake{"-ml", "ldr.l", "pic.p", "code.c"}, kInfo{"-li", "ldr.l"};
const std::string kMaking = "Creating and adding Loader file into image: LDR.L\n";
const std::string kNames = kMaking + "Picture file: PIC.P\nCode file: CODE.C\n",
                  kShowing = "Loader file info: LDR.L\n";

class LoaderTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    create_image("img.vem");
    make_dir("bin");
    copy_binary("bin/vemtool");  // its template is the only one it finds
  }

  // Runs the tool installed as bin/vemtool on img.vem; checks no temporary file is left and masks
  // its name.
  RunResult tool(const Args& args, RunOptions options = {}) {
    options.argv0 = "bin/vemtool";
    options.binary = path("bin/vemtool");
    RunResult result = run(Args{"img.vem"} + args, options);
    const std::regex source("Source file: ((\\S*vemldr)[A-Za-z0-9]{6})\n");
    std::smatch temp;
    EXPECT_FALSE(std::regex_search(result.out, temp, source) &&
                 std::filesystem::exists(std::filesystem::path(dir_) / temp.str(1)))
        << temp.str(1);
    for (const std::string& name : list_dir("bin")) EXPECT_NE(name.rfind("vemldr", 0), 0u) << name;
    result.out = std::regex_replace(result.out, source, "Source file: $2XXXXXX\n");
    return result;
  }
};

// report: what -ml tells of the settings; info: what -li tells, if other; size: the template's;
// over: replace a Loader
struct MakeCase {
  const char* name;
  Args options;
  std::string report;
  int flags;
  int size = 100;
  bool over = false;
  std::string info = "";
  Bytes start = "\xFF\xFF", monitor = "?TEMPLATE";
};
void PrintTo(const MakeCase& c, std::ostream* out) { *out << c.name; }
class LoaderMakeTest : public LoaderTest,
                       public ::testing::WithParamInterface<std::tuple<MakeCase, Args>> {};

TEST_P(LoaderMakeTest, StoresSettingsAndShowsThemBack) {
  const auto& [c, scs] = GetParam();
  write_file("bin/vem-ldr.bin", make_template(c.size));
  ASSERT_EQ(tool({"-fa", "boot.bin"}).status, 0);  // 200 bytes at sectors 10 and 11
  if (c.over) {
    ASSERT_EQ(tool({"-ml", "ldr.l", "old.p", "code.c"}).status, 0);
  }
  const std::string cls = scs.empty() ? "" : "CLS suppressed\n";
  expect_run(tool(kMake + c.options + scs), kNames + c.report + cls + added(c.size, c.over), "", 0);
  const Bytes image =
      read_file("img.vem");  // directory at byte 256: the Loader in slot 1, in place; slot 2 free
  expect_bytes(image.substr(256 + 32, 64),
      raw_entry('L', "LDR", 12, 0x7F00, c.size, 1) + Bytes(32, '\xE5'), Layout::plain);
  expect_bytes(image.substr(12 * 128, c.size),
      made_from(c.size, c.flags | (scs.empty() ? 0 : 8), c.start, c.monitor), Layout::plain);
  expect_run(tool(kInfo),
      kShowing + "Directory index: 1\nLoader file size: " + std::to_string(c.size) +
          " bytes\nLoader load address: 32512 (7F00h)\nPicture file: PIC.P\nCode file: CODE.C\n" +
          (c.info.empty() ? c.report : c.info) + cls + "\n",
      "", 0);
  expect_bytes(read_file("img.vem"), image);
}

const MakeCase kMakeCases[] = {{"Defaults", {}, "", 0}, {"ShortestTemplate", {}, "", 0, 33},
    {"LongestTemplate", {}, "", 0, 246},
    {"CustomStartZero", {"-sa", "0"}, "Custom start: 0 (0000h)\n", 0, 100, false,
        "Code custom start: 0 (0000h)\n", {0, 0}},
    {"Monitor1", {"-mon", "1"}, "Load Monitor: MONIT1.?\n", 1},
    {"Monitor1NoInit", {"-mon", "1X"}, "Load Monitor: MONIT1.? (No Init)\n", 5},
    {"Monitor2", {"-mon", "2"}, "Load Monitor: MONIT2.?\n", 2},
    {"Monitor2NoInit", {"-mon", "2X"}, "Load Monitor: MONIT2.? (No Init)\n", 6},
    {"MonitorFile", {"-mon", "game.m"}, "Load Monitor: GAME.M\n", 3, 100, false, "", "\xFF\xFF",
        "MGAME    "},
    {"OverwriteInPlace", {"-mon", "2", "-ow"}, "Load Monitor: MONIT2.?\n", 2, 100, true}};
INSTANTIATE_TEST_SUITE_P(Loader, LoaderMakeTest,
    ::testing::Combine(::testing::ValuesIn(kMakeCases), ::testing::Values(Args{}, Args{"-scs"})),
    [](const auto& i) {
      return std::get<0>(i.param).name + std::string(std::get<1>(i.param).empty() ? "" : "Scs");
    });

TEST_F(LoaderTest, UsesSystemTemporaryDirectoryWhenTemplateDirectoryIsNotWritable) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  write_file("bin/vem-ldr.bin", make_template(100));
  std::filesystem::permissions(path("bin"), std::filesystem::perms(0755));
  give_to_nobody("img.vem");
  const std::string temporary = std::filesystem::temp_directory_path().string() + "/";
  expect_run(tool(kMake, unprivileged()), kNames + added(100, false, temporary), "", 0);
  expect_bytes(read_file("img.vem").substr(10 * 128, 100), made_from(100, 0),
      Layout::plain);  // the first file's sector
}

struct Refusal {  // template_size -1: no template
  const char* name;
  Args command;
  std::string out;
  int status;
  std::string error;
  int template_size = 100;
  std::vector<Args> setup = {};
};
PARAM_FIXTURE(LoaderRefusalTest, LoaderTest, Refusal);

TEST_P(LoaderRefusalTest, IsReportedAndLeavesImageUnchanged) {
  const Refusal& c = GetParam();
  if (c.template_size >= 0) write_file("bin/vem-ldr.bin", make_template(c.template_size));
  write_file("empty.bin", "");
  for (const Args& command : c.setup) ASSERT_EQ(tool(command).status, 0);
  const Bytes image = read_file("img.vem");
  expect_run(tool(c.command), c.out, c.error, c.status);
  expect_bytes(read_file("img.vem"), image);
}

const std::string kLoader = "File 'LDR.L'", kNotLoader = " is not valid standard Loader file!";
const Refusal kRefusals[] = {
    {"TemplateTooShort", kMake, kMaking, 30, "File 'bin/vem-ldr.bin'" + kNotLoader, 32},
    {"TemplateTooLong", kMake, kMaking, 9,
        "Source file 'bin/vem-ldr.bin' is too long! Max length 246 bytes.", 247},
    {"TemplateMissing", kMake, kMaking, 6, "Can't open file 'bin/vem-ldr.bin' for reading!", -1},
    {"LowerCaseMonitor1x", kMake + Args{"-mon", "1x"}, "", 23,
        "File name '1x' in option `-mon` must be unambiguous!"},
    {"NameTakenNoOverwrite", kMake, kNames + "\nAdding file: LDR.L\n", 24,
        kLoader + " alreday exist!", 100, {kMake}},
    {"InfoAfterAllRamToggled", kInfo, kShowing, 30, kLoader + kNotLoader, 100,
        {kMake, {"-fp", "ldr.l", "-ar"}}},
    {"InfoOnEmptyFile", kInfo, kShowing, 30, kLoader + kNotLoader, 100,
        {{"-fa", "empty.bin", "-fn", "ldr.l", "-sa", "32512", "-al"}}},
    {"InfoOnMissingFile", kInfo, kShowing, 25, kLoader + " not exist!"}};
INSTANTIATE_TEST_SUITE_P(Loader, LoaderRefusalTest, ::testing::ValuesIn(kRefusals),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

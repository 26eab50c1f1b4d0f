// -ml and -li: the Loader made from its template, and read back.
#include <unistd.h>

#include <filesystem>
#include <regex>

#include "harness.h"

namespace {

// A template as the target machine expects it: JP 7Fxxh, no custom start, a
// marker where the monitor goes.
Bytes make_template(int size) {
  Bytes bytes = pattern_bytes(size, 7).replace(0, 3, "\xC3\x10\x7F");
  return size < 33 ? bytes : bytes.replace(21, 12, "\xFF\xFF\x5A?TEMPLATE");
}

// The report of adding the Loader made from a `size`-byte template, its
// temporary file in `directory` masked.
std::string added(int size = 100, bool over = false, const std::string& directory = "bin/") {
  return "\nAdding file: LDR.L\n" +
         std::string(over ? "File already exist, will be overwritten.\n" : "") +
         "Source file: " + directory + "vemldrXXXXXX\n" + add_report("", size, 32512, "List\n") +
         "\n";
}

const Args MAKE{"-ml", "ldr.l", "pic.p", "code.c"}, INFO{"-li", "ldr.l"};
const std::string MAKING = "Creating and adding Loader file into image: LDR.L\n",
                  NAMES = MAKING + "Picture file: PIC.P\nCode file: CODE.C\n",
                  SHOWING = "Loader file info: LDR.L\n";

class LoaderTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    create_image("img.vem");
    make_dir("bin");
    copy_binary("bin/vemtool");  // its template is the only one it finds
  }
  // Runs the tool installed as bin/vemtool on img.vem; checks no temporary
  // file is left and masks its name.
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

// report: what -ml tells of the settings; info: what -li tells, if other;
// size: the template's; over: replace a Loader; flags, start and monitor:
// what the template's bytes 18 to 32 get.
struct MakeCase {
  const char* name;
  Args options;
  std::string report;
  int flags, size = 100;
  bool over = false;
  std::string info = "";
  Bytes start = "\xFF\xFF", monitor = "?TEMPLATE";
};
PARAM_FIXTURE(LoaderMakeTest, LoaderTest, MakeCase);

TEST_P(LoaderMakeTest, StoresSettingsAndShowsThemBack) {
  const MakeCase& c = GetParam();
  write_file("bin/vem-ldr.bin", make_template(c.size));
  ASSERT_EQ(tool({"-fa", "boot.bin"}).status, 0);  // 200 bytes at sectors 10 and 11
  if (c.over) {
    ASSERT_EQ(tool({"-ml", "ldr.l", "old.p", "code.c"}).status, 0);
  }
  expect_run(tool(MAKE + c.options), NAMES + c.report + added(c.size, c.over), "", 0);
  // The directory at byte 256: the Loader in slot 1, in place; slot 2 free.
  const Bytes image = read_file("img.vem");
  expect_bytes(
      image.substr(256 + 32, 64), raw_entry('L', "LDR", 12, 0x7F00, c.size, 1) + Bytes(32, '\xE5'));
  expect_bytes(image.substr(12 * 128, c.size),
      make_template(c.size).replace(
          3, 30, "PPIC     CCODE    " + c.start + static_cast<char>(c.flags) + c.monitor));
  expect_run(tool(INFO),
      SHOWING + "Directory index: 1\nLoader file size: " + std::to_string(c.size) +
          " bytes\nLoader load address: 32512 (7F00h)\nPicture file: PIC.P\nCode file: CODE.C\n" +
          (c.info.empty() ? c.report : c.info) + "\n",
      "", 0);
  expect_bytes(read_file("img.vem"), image);
}

const std::string SCS = "CLS suppressed\n";
INSTANTIATE_TEST_SUITE_P(Loader, LoaderMakeTest,
    ::testing::Values(MakeCase{"Defaults", {}, "", 0}, MakeCase{"ShortestTemplate", {}, "", 0, 33},
        MakeCase{"LongestTemplate", {"-scs"}, SCS, 8, 246},
        MakeCase{"CustomStartZero", {"-sa", "0"}, "Custom start: 0 (0000h)\n", 0, 100, false,
            "Code custom start: 0 (0000h)\n", {0, 0}},
        MakeCase{"Monitor1NoInit", {"-mon", "1X"}, "Load Monitor: MONIT1.? (No Init)\n", 5},
        MakeCase{"Monitor2", {"-mon", "2", "-scs"}, "Load Monitor: MONIT2.?\n" + SCS, 10},
        MakeCase{"MonitorFile", {"-mon", "game.m"}, "Load Monitor: GAME.M\n", 3, 100, false, "",
            "\xFF\xFF", "MGAME    "},
        MakeCase{"OverwriteInPlace", {"-mon", "2X", "-ow"}, "Load Monitor: MONIT2.? (No Init)\n", 6,
            100, true}),
    CaseName());

TEST_F(LoaderTest, UsesSystemTemporaryDirectoryWhenTemplateDirectoryIsNotWritable) {
  ASSERT_EQ(::geteuid(), 0u) << "needs root to run as another user";
  write_file("bin/vem-ldr.bin", make_template(100));
  std::filesystem::permissions(path("bin"), std::filesystem::perms(0755));
  give_to_nobody("img.vem");
  const std::string temporary = std::filesystem::temp_directory_path().string() + "/";
  expect_run(tool(MAKE, unprivileged()), NAMES + added(100, false, temporary), "", 0);
  EXPECT_EQ(read_file("img.vem").substr(10 * 128 + 3, 18), "PPIC     CCODE    ");
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
  write_file("bin/vem-ldr.bin", make_template(c.template_size));
  write_file("empty.bin", "");
  for (const Args& command : c.setup) ASSERT_EQ(tool(command).status, 0);
  const Bytes image = read_file("img.vem");
  expect_run(tool(c.command), c.out, c.error, c.status);
  expect_bytes(read_file("img.vem"), image);
}

const std::string LOADER = "File 'LDR.L'", NOT_LOADER = " is not valid standard Loader file!";
INSTANTIATE_TEST_SUITE_P(Loader, LoaderRefusalTest,
    ::testing::Values(
        Refusal{"TemplateTooShort", MAKE, MAKING, 30, "File 'bin/vem-ldr.bin'" + NOT_LOADER, 32},
        Refusal{"TemplateTooLong", MAKE, MAKING, 9,
            "Source file 'bin/vem-ldr.bin' is too long! Max length 246 bytes.", 247},
        Refusal{"LowerCaseMonitor1x", MAKE + Args{"-mon", "1x"}, "", 23,
            "File name '1x' in option `-mon` must be unambiguous!"},
        Refusal{"NameTakenNoOverwrite", MAKE, NAMES + "\nAdding file: LDR.L\n", 24,
            LOADER + " alreday exist!", 100, {MAKE}},
        Refusal{"InfoAfterAllRamToggled", INFO, SHOWING, 30, LOADER + NOT_LOADER, 100,
            {MAKE, {"-fp", "ldr.l", "-ar"}}},
        Refusal{"InfoOnEmptyFile", INFO, SHOWING, 30, LOADER + NOT_LOADER, 100,
            {{"-fa", "empty.bin", "-fn", "ldr.l", "-sa", "32512", "-al"}}},
        Refusal{"InfoOnMissingFile", INFO, SHOWING, 25, LOADER + " not exist!"}),
    CaseName());

}  // namespace

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <tuple>

#include "harness.h"

namespace {

using Outcome = std::tuple<std::string, std::string, int>;  // standard output, standard error, exit status

Outcome outcome(const RunResult& result) { return {result.out, result.err, result.status}; }

// A template as the target machine expects it: JP 7Fxxh, no custom start, a marker where the monitor goes.
Bytes make_template(int size) {
  Bytes bytes = pattern_bytes(size, 7).replace(0, 3, "\xC3\x10\x7F");
  return size < 33 ? bytes : bytes.replace(21, 12, "\xFF\xFF\x5A?TEMPLATE");
}

// What "-ml ldr.l pic.p code.c" stores from make_template(size) with these settings.
Bytes made_from(int size, int flags, const Bytes& start = "\xFF\xFF", const Bytes& monitor = "?TEMPLATE") {
  return make_template(size).replace(3, 30, "PPIC     CCODE    " + start + static_cast<char>(flags) + monitor);
}

const Args kMake{"-ml", "ldr.l", "pic.p", "code.c"};
const std::string kMaking = "Creating and adding Loader file into image: LDR.L\n";
const std::string kNames = kMaking + "Picture file: PIC.P\nCode file: CODE.C\n";
const std::string kAdded = "Source file: bin/vemldrXXXXXX\nLong name:                 \n"
                           "Size: 100 bytes (1 sectors)\nStart: 32512\nAttributes: List\n\n";
const std::string kInfo = "Loader file info: LDR.L\nDirectory index: 1\nLoader file size: 100 bytes\n"
                          "Loader load address: 32512 (7F00h)\nPicture file: PIC.P\nCode file: CODE.C\n";

class LoaderTest : public E2eTest {
 protected:
  void SetUp() override {
    E2eTest::SetUp();
    create_image("img.vem");
    make_dir("bin");
    write_file("bin/vem-ldr.bin", make_template(100));
  }

  // Runs the tool installed as bin/vemtool on img.vem; checks no temporary file is left and masks its name.
  RunResult tool(Args args, RunOptions options = {}) {
    args.insert(args.begin(), "img.vem");
    options.argv0 = "bin/vemtool";
    RunResult result = run(args, options);
    const std::regex source("Source file: ((\\S*vemldr)[A-Za-z0-9]{6})\n");
    std::smatch temp;
    if (std::regex_search(result.out, temp, source)) {
      EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(dir_) / temp.str(1))) << temp.str(1);
    }
    for (const std::string& name : list_dir("bin")) EXPECT_NE(name.rfind("vemldr", 0), 0u) << name;
    result.out = std::regex_replace(result.out, source, "Source file: $2XXXXXX\n");
    return result;
  }

  // The directory entry in `slot` and its file's data.
  std::pair<Bytes, Bytes> stored(int slot) const {
    const Bytes image = read_file("img.vem");
    const std::size_t entry = static_cast<unsigned char>(image[12]) * 128u + 32u * static_cast<unsigned>(slot);
    return {image.substr(entry, 32), image.substr(u16_at(image, entry + 9) * 128u, u16_at(image, entry + 13))};
  }
};

}  // namespace

struct MakeCase {  // report: what -ml tells of the settings; info: what -li tells, when that differs
  const char* label; Args options; std::string report; int flags;
  std::string info = ""; Bytes start = "\xFF\xFF", monitor = "?TEMPLATE";
};

class LoaderMakeTest : public LoaderTest, public ::testing::WithParamInterface<std::tuple<MakeCase, bool>> {};

TEST_P(LoaderMakeTest, StoresSettingsAndShowsThemBack) {
  const auto& [c, scs] = GetParam();
  write_file("other.bin", pattern_bytes(300));
  ASSERT_EQ(tool({"-fa", "other.bin"}).status, 0);
  Args args = kMake;
  args.insert(args.end(), c.options.begin(), c.options.end());
  if (scs) args.push_back("-scs");
  const std::string cls = scs ? "CLS suppressed\n" : "";
  const RunResult made = tool(args);
  const std::string report = kNames + c.report + cls + "\nAdding file: LDR.L\n" + kAdded;
  EXPECT_EQ(outcome(made), Outcome(out_with_banner(report), "", 0));
  EXPECT_EQ(stored(1), std::make_pair(raw_entry('L', "LDR", 13, 0x7F00, 100, 1),
                                      made_from(100, c.flags | (scs ? 8 : 0), c.start, c.monitor)));
  const Bytes image = read_file("img.vem");
  const RunResult info = tool({"-li", "ldr.l"});
  EXPECT_EQ(outcome(info), Outcome(out_with_banner(kInfo + (c.info.empty() ? c.report : c.info) + cls + "\n"), "", 0));
  EXPECT_EQ(read_file("img.vem"), image);
}

INSTANTIATE_TEST_SUITE_P(Loader, LoaderMakeTest, ::testing::Combine(::testing::Values(
    MakeCase{"Defaults", {}, "", 0},
    MakeCase{"CustomStartZero", {"-sa", "0"}, "Custom start: 0 (0000h)\n", 0, "Code custom start: 0 (0000h)\n",
             Bytes(2, '\0')},
    MakeCase{"Monitor1", {"-mon", "1"}, "Load Monitor: MONIT1.?\n", 1},
    MakeCase{"Monitor1NoInit", {"-mon", "1X"}, "Load Monitor: MONIT1.? (No Init)\n", 5},
    MakeCase{"Monitor2", {"-mon", "2"}, "Load Monitor: MONIT2.?\n", 2},
    MakeCase{"Monitor2NoInit", {"-mon", "2X"}, "Load Monitor: MONIT2.? (No Init)\n", 6},
    MakeCase{"MonitorFile", {"-mon", "game.m"}, "Load Monitor: GAME.M\n", 3, "", "\xFF\xFF", "MGAME    "}),
    ::testing::Bool()), [](const auto& info) {
      return std::string(std::get<0>(info.param).label) + (std::get<1>(info.param) ? "ClsSuppressed" : "");
    });

TEST_F(LoaderTest, TemplatesOf33To246BytesAreStoredWhole) {
  for (const int size : {33, 246}) {
    write_file("bin/vem-ldr.bin", make_template(size));
    EXPECT_EQ(tool({"-ml", "l" + std::to_string(size) + ".l", "pic.p", "code.c"}).status, 0);
  }
  EXPECT_EQ(stored(0).second, made_from(33, 0));
  EXPECT_EQ(stored(1).second, made_from(246, 0));
}

TEST_F(LoaderTest, OverwriteReplacesTheLoaderInPlace) {
  ASSERT_EQ(tool({"-ml", "ldr.l", "old.p", "code.c"}).status, 0);
  const RunResult replaced = tool({"-ml", "ldr.l", "pic.p", "code.c", "-mon", "2", "-ow"});
  EXPECT_EQ(outcome(replaced), Outcome(out_with_banner(kNames + "Load Monitor: MONIT2.?\n\nAdding file: LDR.L\n"
                                        "File already exist, will be overwritten.\n" + kAdded), "", 0));
  EXPECT_EQ(stored(0), std::make_pair(raw_entry('L', "LDR", 10, 0x7F00, 100, 1), made_from(100, 2)));
  EXPECT_EQ(read_file("img.vem").substr(256 + 32, 32), Bytes(32, '\xE5'));  // no second entry
}

TEST_F(LoaderTest, UsesSystemTemporaryDirectoryWhenTemplateDirectoryIsNotWritable) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run as another user";
  ::chmod(path("bin").c_str(), 0755);
  give_to_nobody("img.vem");
  RunOptions nobody;
  nobody.unprivileged = true;
  const RunResult made = tool(kMake, nobody);
  const std::string temporary = (std::filesystem::temp_directory_path() / "vemldrXXXXXX").string();
  const std::string added = std::regex_replace(kAdded, std::regex("bin/vemldrXXXXXX"), temporary);
  EXPECT_EQ(outcome(made), Outcome(out_with_banner(kNames + "\nAdding file: LDR.L\n" + added), "", 0));
  EXPECT_EQ(stored(0).second, made_from(100, 0));
}

struct Refusal {  // template_size -1: no template
  const char* label; int template_size; std::vector<Args> setup; Args command; std::string out; int status;
  std::string error;
};

class LoaderRefusalTest : public LoaderTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(LoaderRefusalTest, IsReportedAndLeavesImageUnchanged) {
  const Refusal& c = GetParam();
  if (c.template_size < 0) ::unlink(path("bin/vem-ldr.bin").c_str());
  else write_file("bin/vem-ldr.bin", make_template(c.template_size));
  write_file("empty.bin", "");
  for (const Args& command : c.setup) ASSERT_EQ(tool(command).status, 0);
  const Bytes image = read_file("img.vem");
  const RunResult result = tool(c.command);
  EXPECT_EQ(outcome(result), Outcome(out_with_banner(c.out), err_line(c.error), c.status));
  EXPECT_EQ(read_file("img.vem"), image);
}

const std::string kNotLoader = "File 'LDR.L' is not valid standard Loader file!";
INSTANTIATE_TEST_SUITE_P(Loader, LoaderRefusalTest, ::testing::Values(
    Refusal{"TemplateTooShort", 32, {}, kMake, kMaking, 30,
            "File 'bin/vem-ldr.bin' is not valid standard Loader file!"},
    Refusal{"TemplateTooLong", 247, {}, kMake, kMaking, 9,
            "Source file 'bin/vem-ldr.bin' is too long! Max length 246 bytes."},
    Refusal{"TemplateMissing", -1, {}, kMake, kMaking, 6, "Can't open file 'bin/vem-ldr.bin' for reading!"},
    Refusal{"LowerCaseMonitorSelector", 100, {}, {"-ml", "ldr.l", "pic.p", "code.c", "-mon", "1x"}, "", 23,
            "File name '1x' in option `-mon` must be unambiguous!"},
    Refusal{"NameTakenWithoutOverwrite", 100, {kMake}, kMake, kNames + "\nAdding file: LDR.L\n", 24,
            "File 'LDR.L' alreday exist!"},
    Refusal{"InfoAfterAllRamToggled", 100, {kMake, {"-fp", "ldr.l", "-ar"}}, {"-li", "ldr.l"},
            "Loader file info: LDR.L\n", 30, kNotLoader},
    Refusal{"InfoOnEmptyFile", 100, {{"-fa", "empty.bin", "-fn", "ldr.l", "-sa", "32512", "-al"}}, {"-li", "ldr.l"},
            "Loader file info: LDR.L\n", 30, kNotLoader},
    Refusal{"InfoOnMissingFile", 100, {}, {"-li", "ldr.l"}, "Loader file info: LDR.L\n", 25,
            "File 'LDR.L' not exist!"}),
    [](const auto& info) { return std::string(info.param.label); });

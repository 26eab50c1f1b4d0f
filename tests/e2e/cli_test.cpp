// The command line, checked before any file is opened, and the usage text.
#include <cstdint>

#include "harness.h"

namespace {

// FNV-1a, to pin a long fixed text without restating it.
std::uint64_t sum_of(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : text) hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  return hash;
}

// The usage text is the tool's fixed output, pinned by its checksum (a
// changed text is printed whole, to be read before the sum is updated). At a
// terminal it stops for ENTER after the forms and after the options; else
// it goes straight through.
using UsageTest = E2eTest;
TEST_F(UsageTest, IsFixedAndStopsTwiceForEnterAtATerminalOnly) {
  const RunResult plain = run({}), typed = run({"img.vem"}, at_terminal("typed\n\n"));
  expect_run(plain, plain.out.substr(out_with_banner("").size()), "", 0);
  EXPECT_EQ(sum_of(plain.out), 0x2b77de73e48f59d1u) << plain.out;
  std::string paused = plain.out;
  for (const char* before : {"    -c    show", "`lname` must"})
    paused.insert(paused.find(before), "\nPress ENTER ...\n");
  EXPECT_EQ(typed.out, paused);
  EXPECT_EQ(typed.status, 0);
  EXPECT_TRUE(list_dir().empty());
}

// status 0: accepted, and without a command the run only ends the line.
struct LineCase {
  const char* name;
  Args options;
  std::string message;
  int status;
};
PARAM_FIXTURE(CommandLineTest, E2eTest, LineCase);

TEST_P(CommandLineTest, IsCheckedBeforeAnyFileIsOpened) {
  const LineCase& c = GetParam();
  expect_run(run(Args{"img.vem"} + c.options), c.status ? "" : "\n", c.message, c.status);
  EXPECT_TRUE(list_dir().empty());
}

const std::string BAD = "Bad combination of options: ", PATH_255(255, 'b'), PATH_256(256, 'b');
INSTANTIATE_TEST_SUITE_P(Cli, CommandLineTest,
    ::testing::Values(LineCase{"OptionsWithoutCommand",
                          {"-al", "-ib", PATH_255, "-sa", "65535", "-ln", "ABCDEFGHIJKLMNOP", "-id",
                              "256", "-is", "8192"},
                          "", 0},
        LineCase{"LenientValuesWithoutCommand",
            {"-sa", "12abc", "-ln", "", "-is", "0x200", "-id", "04", "-mon", "2X"}, "", 0},
        LineCase{"CommandsListedInFixedOrder", {"-ic", "-c"}, BAD + "-c -ic  ", 4},
        LineCase{"DashValueIsTakenAsValue", {"-ic", "-ln", "-ii"}, BAD + "for -ic", 4},
        LineCase{"OptionNotForInfo", {"-ii", "-sa", "1"}, BAD + "for -ii", 4},
        LineCase{"OptionNotForLoaderInfo", {"-li", "A.B", "-ib", "x"}, BAD + "for -li", 4},
        LineCase{"ReconfigureWithoutChange", {"-ir"}, BAD + "for -ir", 4},
        LineCase{"ChangeWithoutParameter", {"-fp", "A.B"}, BAD + "for -fp", 4},
        LineCase{"SizeWithoutValue", {"-ic", "-is"}, "Missing option value(s) '-is'!", 5},
        LineCase{"LoaderWithTwoValues", {"-ml", "A.B", "C.D"}, "Missing option value(s) '-ml'!", 5},
        LineCase{"FirstErrorEndsTheScan", {"-is", "500", "-xyz"}, "Bad option value: -is 500", 16},
        LineCase{"SizeEmpty", {"-is", ""}, "Bad option value: -is ", 16},
        LineCase{"ItemsNotMultipleOf4", {"-id", "6"}, "Bad option value: -id 6", 16},
        LineCase{"StartNotANumber", {"-sa", "abc"}, "Value -1 is out of range <0, 65535>: -sa", 15},
        LineCase{"SecondBooter", {"-ic", "-ib", "a", "-ib", "b"},
            "Only one BOOT file can be specified! 'a' or 'b'?", 20},
        LineCase{"SecondSource", {"-fa", "a.b", "-fa", "c"},
            "Only one source file can be specified! './a.b' or 'c'?", 18},
        LineCase{"BooterPathOf256", {"-ic", "-ib", PATH_256},
            "Invalid file name/mask '" + PATH_256 + "' in option `-ib`", 22},
        LineCase{"OptionsAreCaseSensitive", {"-IC"}, "Unknown option: -IC", 3},
        LineCase{"CheckListedAfterTheOthers", {"-iv", "-li", "A.B"}, BAD + "-li -iv  ", 4},
        LineCase{"CheckAdmitsOnlyFix", {"-iv", "-fix", "-al"}, BAD + "for -iv", 4},
        LineCase{"FixWithoutCommand", {"-fix"}, BAD + "for -iv", 4},
        LineCase{"FixWithAnotherCommand", {"-ii", "-fix"}, BAD + "for -ii", 4},
        LineCase{"SmallestWithoutCommand",
            {"-is", "32", "-id", "4", "-sa", "0", "-fn", "ABCDEFGH.B"}, "", 0},
        LineCase{"SizeZero", {"-ic", "-is", "0"}, "Bad option value: -is 0", 16},
        LineCase{"SizePastLargest", {"-is", "8224"}, "Bad option value: -is 8224", 16},
        LineCase{"SizeNotAStep", {"-is", "8191"}, "Bad option value: -is 8191", 16},
        LineCase{"ItemsZero", {"-id", "0"}, "Bad option value: -id 0", 16},
        LineCase{"ItemsPastLargest", {"-id", "260"}, "Bad option value: -id 260", 16},
        LineCase{"StartPastLargest", {"-sa", "65536"},
            "Value 65536 is out of range <0, 65535>: -sa", 15},
        LineCase{"NameOfNine", {"-fn", "ABCDEFGHI.B"},
            "Invalid file name/mask 'ABCDEFGHI.B' in option `-fn`", 22},
        LineCase{
            "LongNameOf17", {"-ln", "0123456789ABCDEFG"}, "Long name can have up to 16 chars!", 17},
        LineCase{"PathOf256", {"-fa", PATH_256 + ".b"},
            "Invalid file name/mask '" + PATH_256 + ".b' in option `-fa`", 22}),
    CaseName());

// Zero-length files Fn.B in slots 0..count-1 of a 32 kB image.
Bytes empty_files(int count, int dir_sectors) {
  RawImage image{1, dir_sectors, 255, {}, {}};
  for (int i = 0; i < count; ++i)
    image.slots.push_back({i, raw_entry('B', "F" + std::to_string(i + 1), 1 + dir_sectors, 0, 0)});
  return build_raw_image(image);
}

// At a terminal the catalogue waits for ENTER after every 20 rows, found by
// the row numbers, and not after the last; in a script the rows go straight
// through a pipe, and the script's own input is left for it.
using PagerTest = E2eTest;
TEST_F(PagerTest, CataloguePausesAfterEvery20RowsAtATerminalOnly) {
  for (const auto& [files, pauses] : {std::pair<int, std::vector<int>>{20, {}}, {41, {20, 40}}}) {
    write_file("img.vem", empty_files(files, 16));
    const RunResult result = run({"img.vem", "-c"}, at_terminal("\n\n\n"));
    ASSERT_EQ(result.status, 0);
    std::vector<int> paused_after;
    for (std::size_t at = 0; (at = result.out.find("\nPress ENTER ...\n", at)) != std::string::npos;
         ++at) {
      const std::size_t row = result.out.rfind("\n", at - 2) + 1;  // the row before the blank line
      paused_after.push_back(std::stoi(result.out.substr(row, 3)));
    }
    EXPECT_EQ(paused_after, pauses);
    EXPECT_NE(result.out.find(" F" + std::to_string(files) + " "), std::string::npos);
  }
  RunOptions script = invoked_as("sh", "/bin/sh");
  script.input = "line one\nline two\n";
  const RunResult piped = run({"-c", "\"$0\" img.vem -c | cat; cat", VEMTOOL_BINARY}, script);
  EXPECT_EQ(piped.out.find("Press ENTER"), std::string::npos);
  EXPECT_NE(piped.out.find(" F41 "), std::string::npos);
  EXPECT_EQ(piped.out.substr(piped.out.size() - 18), "line one\nline two\n");
}

}  // namespace

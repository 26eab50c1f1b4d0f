// The command line, checked before any file is opened, and the usage text.
#include "harness.h"

namespace {

// One line of the text per line of code.
// clang-format off
const std::string PAGER = "\nPress ENTER ...\n", FORM = "  vemtool imgname.vem ";
const std::string USAGE = "Utility to manage VEM images.\nUsage:\n" +
    FORM + "-c [fmask[.T]]\n" +
    FORM + "-ic [-is num] [-id num] [-ib [path/]bootfile.ext]\n" +
    FORM + "-ir [-is num] [-id num] [-ib [path/]bootfile.ext]\n" +
    FORM + "-ii\n" +
    FORM + "-fa [path/]filename.ext [-fn fname.T] [-ln lname] [-sa num] [-al] [-ar] [-ow] "
           "[-psc]\n" +
    FORM + "-fc [path/]complex-file-name [-ow]\n" +
    FORM + "-fl [path/]complex-file-names-list [-ow]\n" +
    FORM + "-fr fname.T [path/]filename.ext\n" +
    FORM + "-fp fname.T [-fn newfn.T] [-ln lname] [-sa num] [-al] [-ar]\n" +
    FORM + "-fd fmask[.T]\n" +
    FORM + "-fx [path/]fmask[.T] [-cfn [-cfnl [path/]complex-file-names-list]]\n" +
    FORM + "-ml fname.T pname.T cname.T [-ln lname] [-sa num] [-mon MX] [-scs] [-ow]\n" +
    FORM + "-li fname.T\n" + PAGER +
    "    -c    show catalogue of the VEM image\n"
    "    -ic   create new VEM image\n"
    "    -ir   reconfigure VEM image\n"
    "    -ii   show image info\n"
    "    -is   image size in kB [512]\n"
    "    -id   number of directory items [32]\n"
    "    -ib   use this VEM Booter file [vem-boot.bin]\n"
    "    -fa   add file into image\n"
    "    -fc   add file into image by complex source file name\n"
    "    -fl   add files into image by list of files in text file\n"
    "    -fr   replace file in image\n"
    "    -fp   change file parameters in image\n"
    "    -fd   delete file(s) from image\n"
    "    -fx   extract file(s) from image\n"
    "    -cfn  create complex file names for extracted files\n"
    "    -cfnl create also text file with list of complex file names of extracted files\n"
    "    -ml   make loader file\n"
    "    -li   show loader file info\n"
    "    -fn   file name (max. 8 chars + one char type)\n"
    "    -ln   long name to display (max. 16 chars)\n"
    "    -sa   start address to load [0]\n"
    "    -al   set/toggle List attribute\n"
    "    -ar   set/toggle AllRAM attribute\n"
    "    -ow   overwrite already existing file\n"
    "    -psc  insert PSC unpak routine before picture data\n"
    "    -mon  monitor type in Loader; can be 1, 1X, 2 or 2X or mname.T\n"
    "    -scs  suppress clear screen in Loader\n" + PAGER +
    "`lname` must be in double quotes when contains spaces.\n"
    "`fname.T`, `newfn.T`, `pname.T`, `cname.T` and `mname.T` are VEM 8.1 file names\n"
    "and must be in double quotes when contains spaces or >/< redir chars.\n"
    "`fmask[.T]` is VEM 8.1 file name that may contain wildcards.\n"
    "`T` must be single character. If not used in mask, all file types regard.\n"
    "`complex-file-name` has form `fname_lname_sa_attr.T` (special chars as #HH)\n"
    "`complex-file-names-list` is text file with complex file names to add\n"
    "All numeric parameters must be nonnegative integers and can be in three forms:\n"
    "  decimal (e.g. 12345)\n"
    "  octal (e.g. 01234)\n"
    "  hexadecimal (e.g. 0x1234)\n\n";
// clang-format on

// At a terminal the text stops twice for ENTER; elsewhere it goes straight through.
using UsageTest = E2eTest;
TEST_F(UsageTest, StopsTwiceForEnterAtATerminalOnly) {
  std::string plain = USAGE;
  for (std::size_t at = 0; (at = plain.find(PAGER)) != std::string::npos;)
    plain.erase(at, PAGER.size());
  expect_run(run({}), plain, "", 0);
  expect_run(run({"img.vem"}, at_terminal("typed\n\n")), USAGE, "", 0);
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

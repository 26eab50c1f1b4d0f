#include <cstdio>
#include <string>

#include "cli/data_files.h"
#include "cli/options.h"
#include "cli/pager.h"

namespace {

constexpr const char* PROGRAM_NAME = "vemtool";

// One help line: the option, what it does and, when it has one, its default.
struct HelpLine {
  const char* text;
  const char* default_value = nullptr;
};

constexpr const char* NOTES =
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

void print_help_lines() {
  const std::string image_kb = std::to_string(DEFAULT_IMAGE_SIZE / 1024);
  const std::string dir_items = std::to_string(DEFAULT_DIR_ITEMS);
  const std::string start = std::to_string(DEFAULT_START_ADDRESS);
  const HelpLine lines[] = {
      {"-c    show catalogue of the VEM image"},
      {"-ic   create new VEM image"},
      {"-ir   reconfigure VEM image"},
      {"-ii   show image info"},
      {"-is   image size in kB", image_kb.c_str()},
      {"-id   number of directory items", dir_items.c_str()},
      {"-ib   use this VEM Booter file", DEFAULT_BOOT_FILE},
      {"-fa   add file into image"},
      {"-fc   add file into image by complex source file name"},
      {"-fl   add files into image by list of files in text file"},
      {"-fr   replace file in image"},
      {"-fp   change file parameters in image"},
      {"-fd   delete file(s) from image"},
      {"-fx   extract file(s) from image"},
      {"-cfn  create complex file names for extracted files"},
      {"-cfnl create also text file with list of complex file names of extracted files"},
      {"-ml   make loader file"},
      {"-li   show loader file info"},
      {"-fn   file name (max. 8 chars + one char type)"},
      {"-ln   long name to display (max. 16 chars)"},
      {"-sa   start address to load", start.c_str()},
      {"-al   set/toggle List attribute"},
      {"-ar   set/toggle AllRAM attribute"},
      {"-ow   overwrite already existing file"},
      {"-psc  insert PSC unpak routine before picture data"},
      {"-mon  monitor type in Loader; can be 1, 1X, 2 or 2X or mname.T"},
      {"-scs  suppress clear screen in Loader"},
  };
  for (const HelpLine& line : lines) {
    std::printf("    %s", line.text);
    if (line.default_value != nullptr) std::printf(" [%s]", line.default_value);
    std::printf("\n");
  }
}

}  // namespace

void print_banner() { std::fputs(BANNER_TEXT, stdout); }

void print_usage() {
  std::fputs("Utility to manage VEM images.\n", stdout);
  std::fputs("Usage:\n", stdout);
  print_command_forms(PROGRAM_NAME);
  wait_for_enter();
  print_help_lines();
  wait_for_enter();
  std::fputs(NOTES, stdout);
}

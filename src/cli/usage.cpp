#include <cstdio>

#include "cli/options.h"
#include "cli/pager.h"

namespace {

constexpr const char* PROGRAM_NAME = "vemtool";

constexpr const char* USAGE_FORMS[] = {
    "  %s imgname.vem -c [fmask[.T]]\n",
    "  %s imgname.vem -ic [-is num] [-id num] [-ib [path/]bootfile.ext]\n",
    "  %s imgname.vem -ir [-is num] [-id num] [-ib [path/]bootfile.ext]\n",
    "  %s imgname.vem -ii\n",
    "  %s imgname.vem -fa [path/]filename.ext [-fn fname.T] [-ln lname] [-sa num] [-al] [-ar] [-ow] [-psc]\n",
    "  %s imgname.vem -fc [path/]complex-file-name [-ow]\n",
    "  %s imgname.vem -fl [path/]complex-file-names-list [-ow]\n",
    "  %s imgname.vem -fr fname.T [path/]filename.ext\n",
    "  %s imgname.vem -fp fname.T [-fn newfn.T] [-ln lname] [-sa num] [-al] [-ar]\n",
    "  %s imgname.vem -fd fmask[.T]\n",
    "  %s imgname.vem -fx [path/]fmask[.T] [-cfn [-cfnl [path/]complex-file-names-list]]\n",
    "  %s imgname.vem -ml fname.T pname.T cname.T [-ln lname] [-sa num] [-mon MX] [-scs] [-ow]\n",
    "  %s imgname.vem -li fname.T\n",
};

constexpr const char* COMMAND_LINES =
    "    -c    show catalogue of the VEM image\n"
    "    -ic   create new VEM image\n"
    "    -ir   reconfigure VEM image\n"
    "    -ii   show image info\n";

constexpr const char* OPTION_LINES[] = {
    "    -ib   use this VEM Booter file [vem-boot.bin]\n",
    "    -fa   add file into image\n",
    "    -fc   add file into image by complex source file name\n",
    "    -fl   add files into image by list of files in text file\n",
    "    -fr   replace file in image\n",
    "    -fp   change file parameters in image\n",
    "    -fd   delete file(s) from image\n",
    "    -fx   extract file(s) from image\n",
    "    -cfn  create complex file names for extracted files\n",
    "    -cfnl create also text file with list of complex file names of extracted files\n",
    "    -ml   make loader file\n",
    "    -li   show loader file info\n",
    "    -fn   file name (max. 8 chars + one char type)\n",
    "    -ln   long name to display (max. 16 chars)\n",
    "    -sa   start address to load [0]\n",
    "    -al   set/toggle List attribute\n",
    "    -ar   set/toggle AllRAM attribute\n",
    "    -ow   overwrite already existing file\n",
    "    -psc  insert PSC unpak routine before picture data\n",
    "    -mon  monitor type in Loader; can be 1, 1X, 2 or 2X or mname.T\n",
    "    -scs  suppress clear screen in Loader\n",
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

constexpr int DEFAULT_IMAGE_KB = 512;
constexpr int DEFAULT_DIR_ITEMS = 32;

}  // namespace

void print_banner() { std::fputs(BANNER_TEXT, stdout); }

void print_usage() {
  std::fputs("Utility to manage VEM images.\n", stdout);
  std::fputs("Usage:\n", stdout);
  for (const char* form : USAGE_FORMS) std::printf(form, PROGRAM_NAME);
  wait_for_enter();
  std::fputs(COMMAND_LINES, stdout);
  std::printf("    -is   image size in kB [%d]\n", DEFAULT_IMAGE_KB);
  std::printf("    -id   number of directory items [%d]\n", DEFAULT_DIR_ITEMS);
  for (const char* line : OPTION_LINES) std::fputs(line, stdout);
  wait_for_enter();
  std::fputs(NOTES, stdout);
}

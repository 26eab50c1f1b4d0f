// End-to-end test support: runs the built vemtool in a fresh temporary
// directory and captures standard output, standard error and exit status.
#pragma once

#include <gtest/gtest.h>

#include "double/fault_platform.h"

#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::string;  // file contents, byte for byte
using Args = std::vector<std::string>;

inline Args operator+(Args head, const Args& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

struct RunOptions {
  std::string input;                   // standard input (empty: /dev/null)
  bool unprivileged = false;           // run as `user` when the tests run as root
  long file_size_limit = -1;           // RLIMIT_FSIZE in bytes, SIGXFSZ ignored
  std::string argv0{};                 // program path as invoked (default: the binary)
  std::string stdout_path{};           // where standard output goes (empty: captured)
  std::string binary{};                // the file executed (default: the built vemtool)
  bool closed_stdout = false;          // standard output is a pipe nobody reads
  bool reference = false;              // run the full-rewrite reference build
  std::vector<std::string> wrapper{};  // runs the tool under this command (strace ...)
  bool terminal = false;               // standard input and output on a terminal; `input` typed
  int closed_stream = -1;              // 0, 1 or 2: that standard stream is closed
  int user = 65534;                    // the unprivileged user
};

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

RunOptions unprivileged();
RunOptions size_limited(long bytes);
RunOptions invoked_as(const std::string& argv0);
RunOptions with_input(const std::string& input);
RunOptions output_to(const std::string& path);
RunOptions at_terminal(const std::string& typed);
RunOptions as_user(int uid);  // run as this unprivileged user
// Under strace, with `fault` (such as "pwrite64:signal=KILL") injected at the n-th such call.
RunOptions injected(const std::string& fault, int n);
std::string strace_path();  // empty when strace is not installed
constexpr int NOBODY = 65534;
constexpr int OTHER_USER = 65533;  // a second unprivileged user

// Checks a whole run: standard output after the banner, the error message
// (empty: none) and the exit status.
void expect_run(
    const RunResult& result, const std::string& out, const std::string& err, int status);
// The -fa report from its "Long name" line to the attributes (without the
// newline that ends "None").
std::string add_report(
    const std::string& long_name, int size, int start = 0, const std::string& attributes = "None");

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs vemtool with `args` (the image name first) in the test directory.
  RunResult run(const std::vector<std::string>& args, const RunOptions& options = {});
  // The same inside a forked copy of this process, on the fault-injecting
  // platform with `fault` planned: no program to start, so a run takes
  // about a millisecond. Standard input is empty.
  RunResult run_inside(const std::vector<std::string>& args, const Fault& fault = {});

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write_file(const std::string& name, const Bytes& bytes);
  Bytes read_file(const std::string& name) const;
  bool exists(const std::string& name) const;
  void make_dir(const std::string& name);
  void copy_binary(const std::string& name);  // a copy of the built vemtool, as installed
  void give_to_nobody(const std::string& name, int uid = NOBODY);  // to an unprivileged user
  void make_read_only(const std::string& name);
  std::vector<std::string> list_dir(const std::string& name = ".") const;  // sorted

  // Creates `image` from a Booter of `booter_size` bytes written beside it.
  void create_image(
      const std::string& image, int size_kb = 512, int dir_items = 32, int booter_size = 200);

  std::string dir_;
  std::string scratch_;  // outside dir_: captured output lives here
};

std::string out_with_banner(const std::string& text);  // the banner, then `text`
std::string err_line(const std::string& message);      // the message and its blank line

Bytes make_booter(int size);  // valid: signature, jump opcode, patterned code
Bytes pattern_bytes(int size, int seed = 1);

// One 32-byte directory entry as stored.
Bytes raw_entry(char type, const std::string& name, int first_sector, int start, int length,
    int attributes = 0, const std::string& long_name = "");

// A whole image made without the tool: header geometry, entries placed into
// slots, files placed at sectors. Unset bytes follow the fill rules.
struct RawImage {
  int boot_sectors = 1;
  int dir_sectors = 8;
  int last_sector = 255;
  std::vector<std::pair<int, Bytes>> slots;  // slot index, entry
  std::vector<std::pair<int, Bytes>> data;   // sector, bytes
  int booter_size = -1;  // the Booter's length, padded with 0xFF (-1: the whole boot area)
};
Bytes build_raw_image(const RawImage& image);

std::uint16_t u16_at(const Bytes& bytes, std::size_t offset);

// Names each parameterised case by its `name` field.
struct CaseName {
  template <class Param>
  std::string operator()(const ::testing::TestParamInfo<Param>& info) const {
    return info.param.name;
  }
};

// Declares the fixture `Test` over `Base` whose rows of `Case` are named and printed by `name`.
#define PARAM_FIXTURE(Test, Base, Case)                              \
  void PrintTo(const Case& c, std::ostream* out) { *out << c.name; } \
  class Test : public Base, public ::testing::WithParamInterface<Case> {}

// How a byte comparison names the place of the first difference: by area of
// the expected image's header (boot, directory slot, data sector) or by offset.
enum class Layout { image, plain };

// Compares two byte strings without dumping them: on a difference it tells the
// lengths and the first differing offset with both bytes, by area for images.
::testing::AssertionResult same_bytes(
    const Bytes& actual, const Bytes& expected, Layout layout = Layout::image);
// A macro, so that a failure names the line of the calling test.
#define expect_bytes(...)                 \
  do {                                    \
    EXPECT_TRUE(same_bytes(__VA_ARGS__)); \
  } while (false)

// End-to-end test support: runs the built vemtool in a fresh temporary
// directory and captures standard output, standard error and exit status.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "double/fault_platform.h"

using Bytes = std::string;  // file contents, byte for byte
using Args = std::vector<std::string>;

template <class T>
std::vector<T> operator+(std::vector<T> head, const std::vector<T>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

constexpr int NOBODY = 65534, OTHER_USER = 65533;  // two unprivileged users
// Standard output instead of a file: closed, the full disk, or a pipe nobody reads.
enum class Stdout { captured, closed, full, broken_pipe };

struct RunOptions {
  bool unprivileged = false;  // run as `user` when the tests run as root
  int user = NOBODY;
  long file_size_limit = -1;  // RLIMIT_FSIZE in bytes, SIGXFSZ ignored
  std::string argv0 = "";     // program path as invoked (default: the binary)
  std::string binary = "";    // the file executed (default: the built vemtool)
  std::string input = "";     // standard input (empty: /dev/null)
  bool terminal = false;      // standard input and output on a terminal; `input` typed
  Args wrapper = {};          // runs the tool under this command (strace ...)
  bool reference = false;     // run the full-rewrite reference build
  bool inside = false;        // run inside a forked copy of the tests, with `fault` planned
  Fault fault = {};
  bool closed_stdin = false, closed_stderr = false;
  Stdout out = Stdout::captured;
  int group = -1;  // a supplementary group of the unprivileged run
};

struct RunResult {
  int status = -1;
  std::string out, err;
};

inline RunOptions unprivileged(int uid = NOBODY, int group = -1) {
  RunOptions options{true, uid};
  options.group = group;
  return options;
}
inline RunOptions size_limited(long bytes) { return {false, NOBODY, bytes}; }
inline RunOptions invoked_as(const std::string& argv0, const std::string& binary = "") {
  return {false, NOBODY, -1, argv0, binary};
}
inline RunOptions at_terminal(const std::string& typed) {
  return {false, NOBODY, -1, "", "", typed, true};
}
// Under strace, with `fault` (such as "pwrite64:signal=KILL") injected at the n-th such call.
inline RunOptions injected(const std::string& fault, int n) {
  return {false, NOBODY, -1, "", "", "", false,
      {"/usr/bin/strace", "-f", "-o", "/dev/null", "-e",
          "inject=" + fault + ":when=" + std::to_string(n)}};
}

// Checks a whole run: standard output after the banner ("-": not checked),
// the error message (empty: none) and the exit status.
void expect_run(
    const RunResult& result, const std::string& out, const std::string& err, int status);
// The -fa report from its "Long name" line to the attributes.
std::string add_report(
    const std::string& long_name, int size, int start = 0, const std::string& attributes = "None");

class E2eTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs vemtool with `args` (the image name first) in the test directory.
  RunResult run(const Args& args, const RunOptions& options = {});
  // The same inside a forked copy of this process, on the fault-injecting
  // platform with `fault` planned: no program to start.
  RunResult run_inside(const Args& args, const Fault& fault = {}) {
    return run(args, {false, NOBODY, -1, "", "", "", false, {}, false, true, fault});
  }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }
  void write_file(const std::string& name, const Bytes& bytes);
  Bytes read_file(const std::string& name) const;
  bool exists(const std::string& name) const;
  void make_dir(const std::string& name, unsigned mode = 0777);
  void copy_binary(const std::string& name);  // a copy of the built vemtool, as installed
  void give_to_nobody(const std::string& name, int uid = NOBODY);
  std::vector<std::string> list_dir(const std::string& name = ".") const;  // sorted

  // Creates `image` from a Booter of `booter_size` bytes written beside it.
  void create_image(
      const std::string& image, int size_kb = 512, int dir_items = 32, int booter_size = 200);

  std::string dir_, scratch_;  // scratch_: outside dir_, for captured output
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
  int boot_sectors = 1, dir_sectors = 8, last_sector = 255;
  std::vector<std::pair<int, Bytes>> slots = {};  // slot index, entry
  std::vector<std::pair<int, Bytes>> data = {};   // sector, bytes
  int booter_size = -1;  // the Booter's length, padded with 0xFF (-1: the whole boot area)
};
Bytes build_raw_image(const RawImage& image);

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

// Compares two byte strings without dumping them: on a difference it tells
// the lengths and the first differing offset (and its sector).
::testing::AssertionResult same_bytes(const Bytes& actual, const Bytes& expected);
#define expect_bytes(actual, expected)         \
  do {                                         \
    EXPECT_TRUE(same_bytes(actual, expected)); \
  } while (false)

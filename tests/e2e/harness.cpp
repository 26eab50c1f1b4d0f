#include "harness.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "cli/entry.h"

namespace {

std::string make_temp_dir() {
  std::string pattern = "/tmp/vemtool-e2e-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  ::chmod(pattern.c_str(), 0777);
  return pattern;
}

// A pseudo-terminal in raw mode: what is typed arrives as it is, and the
// output comes back without line-end translation. False when there is none.
bool open_terminal(int& master, int& slave) {
  master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return false;
  slave = ::open(::ptsname(master), O_RDWR | O_NOCTTY);
  termios mode{};
  if (slave < 0 || ::tcgetattr(slave, &mode) != 0) return false;
  ::cfmakeraw(&mode);
  return ::tcsetattr(slave, TCSANOW, &mode) == 0;
}

// Everything the program writes to the terminal until it ends; its wait status.
std::string drain_terminal(int master, pid_t child, int& wait_status) {
  std::string out;
  char piece[4096];
  for (bool ended = false;;) {
    pollfd ready{master, POLLIN, 0};
    if (::poll(&ready, 1, ended ? 0 : 20) > 0) {
      const ssize_t n = ::read(master, piece, sizeof piece);
      if (n > 0) out.append(piece, static_cast<std::size_t>(n));
      if (n > 0) continue;
    }
    if (ended) return out;
    ended = ::waitpid(child, &wait_status, WNOHANG) == child;
  }
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void redirect(int fd, const std::string& path, int flags) {
  const int opened = ::open(path.c_str(), flags, 0666);
  if (opened < 0 || ::dup2(opened, fd) < 0) std::_Exit(127);
  ::close(opened);
}

int status_of(int wait_status) {
  return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
}

}  // namespace

void E2eTest::SetUp() {
  dir_ = make_temp_dir();
  scratch_ = make_temp_dir();
}

void E2eTest::TearDown() {
  for (const std::string& dir : {dir_, scratch_}) std::filesystem::remove_all(dir);
}

RunResult E2eTest::run(const Args& args, const RunOptions& options) {
  const std::string in_path = scratch_ + "/stdin", out_path = scratch_ + "/stdout",
                    err_path = scratch_ + "/stderr";
  std::ofstream(in_path, std::ios::binary | std::ios::trunc) << options.input;
  ::chmod(in_path.c_str(), 0666);
  // VEMTOOL_UNDER_TEST runs the tests against another build (an older one, say).
  const char* under_test = std::getenv("VEMTOOL_UNDER_TEST");
  const std::string binary = !options.binary.empty() ? options.binary
                             : options.reference     ? VEMTOOL_REFERENCE_BINARY
                             : under_test != nullptr ? under_test
                                                     : VEMTOOL_BINARY;
  Args text = options.wrapper;
#ifdef VEMTOOL_VALGRIND
  // valgrind cannot pass on another program name, nor run without standard
  // error, so those runs go bare.
  if (options.argv0.empty() && options.wrapper.empty() && !options.inside && !options.closed_stderr)
    text = {VEMTOOL_VALGRIND, "--quiet", "--leak-check=full", "--error-exitcode=1"};
#endif
  const bool wrapped = !text.empty() && !options.inside;
  text.push_back(options.argv0.empty() || wrapped ? binary : options.argv0);
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& argument : text) argv.push_back(argument.data());
  argv.push_back(nullptr);

  int master = -1, slave = -1;
  if (options.terminal && !open_terminal(master, slave)) return {};
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    if (options.terminal) {
      for (const int fd : {0, 1}) ::dup2(slave, fd);
      ::close(master);
      ::close(slave);
    } else {
      redirect(0, in_path, O_RDONLY);
      redirect(
          1, options.out == Stdout::full ? "/dev/full" : out_path, O_WRONLY | O_CREAT | O_TRUNC);
    }
    redirect(2, err_path, O_WRONLY | O_CREAT | O_TRUNC);
    if (options.closed_stdin) ::close(0);
    if (options.out == Stdout::closed) ::close(1);
    if (options.closed_stderr) ::close(2);
    int ends[2];
    if (options.out == Stdout::broken_pipe && ::pipe(ends) == 0) {
      ::close(ends[0]);
      ::dup2(ends[1], 1);
      ::signal(SIGPIPE, SIG_DFL);
    }
    if (::chdir(dir_.c_str()) != 0) ::_exit(127);
    if (options.file_size_limit >= 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const auto bytes = static_cast<rlim_t>(options.file_size_limit);
      const rlimit limit{bytes, bytes};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    // LeakSanitizer cannot work under a tracer: leave leaks to the untraced runs.
    if (wrapped) ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
    const auto user = static_cast<uid_t>(options.user);
    const auto group = static_cast<gid_t>(options.group);
    if (options.unprivileged && ::geteuid() == 0 &&
        (::setgroups(options.group < 0 ? 0 : 1, &group) != 0 || ::setgid(user) != 0 ||
            ::setuid(user) != 0))
      ::_exit(127);
    if (options.inside) {  // the tool's own entry, on the fault double
      planned_fault() = options.fault;
      const int status = run_vemtool(static_cast<int>(argv.size() - 1), argv.data());
      std::fflush(nullptr);
      std::_Exit(status);
    }
    if (wrapped) ::execvp(argv[0], argv.data());
    ::execv(binary.c_str(), argv.data());
    ::_exit(127);
  }
  int wait_status = 0;
  std::string out;
  if (options.terminal) {
    if (::write(master, options.input.data(), options.input.size()) < 0) out = "(not typed)";
    out += drain_terminal(master, child, wait_status);
    ::close(master);
    ::close(slave);
  } else {
    ::waitpid(child, &wait_status, 0);
    out = slurp(out_path);
  }
  return {status_of(wait_status), out, slurp(err_path)};
}

void E2eTest::write_file(const std::string& name, const Bytes& bytes) {
  std::ofstream(path(name), std::ios::binary | std::ios::trunc) << bytes;
}

Bytes E2eTest::read_file(const std::string& name) const { return slurp(path(name)); }

bool E2eTest::exists(const std::string& name) const {
  return ::access(path(name).c_str(), F_OK) == 0;
}

void E2eTest::make_dir(const std::string& name, unsigned mode) {
  ::mkdir(path(name).c_str(), 0777);
  ::chmod(path(name).c_str(), mode);  // past the umask
}

void E2eTest::copy_binary(const std::string& name) {
  std::filesystem::copy_file(VEMTOOL_BINARY, path(name));
}

void E2eTest::give_to_nobody(const std::string& name, int uid) {
  const auto user = static_cast<uid_t>(uid);
  if (::geteuid() == 0 && ::lchown(path(name).c_str(), user, user) != 0) std::abort();
}

std::vector<std::string> E2eTest::list_dir(const std::string& name) const {
  std::vector<std::string> names;
  std::error_code error;  // a missing directory lists nothing
  for (const auto& entry : std::filesystem::directory_iterator(path(name), error))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void E2eTest::create_image(const std::string& image, int size_kb, int dir_items, int booter_size) {
  write_file("boot.bin", make_booter(booter_size));
  const RunResult result = run({image, "-ic", "-is", std::to_string(size_kb), "-id",
      std::to_string(dir_items), "-ib", "boot.bin"});
  ASSERT_EQ(result.status, 0) << result.err;
}

void expect_run(
    const RunResult& result, const std::string& out, const std::string& err, int status) {
  EXPECT_EQ(result.out, out == "-" ? result.out : out_with_banner(out));
  EXPECT_EQ(result.err, err.empty() ? "" : err_line(err));
  EXPECT_EQ(result.status, status);
}

std::string add_report(
    const std::string& long_name, int size, int start, const std::string& attributes) {
  return "Long name: " + (long_name + std::string(16, ' ')).substr(0, 16) +
         "\nSize: " + std::to_string(size) + " bytes (" + std::to_string((size + 127) / 128) +
         " sectors)\nStart: " + std::to_string(start) + "\nAttributes: " + attributes;
}

std::string out_with_banner(const std::string& text) {
  return "VemTool 1.0 - VEM image utility\n" + text;
}

std::string err_line(const std::string& message) { return message + "\n\n"; }

Bytes make_booter(int size) {
  Bytes bytes;
  for (int i = 0; i < size; ++i) bytes += static_cast<char>(0x40 + i % 61);
  return bytes.replace(0, 10, Bytes("\xCD\x00\x8C\x10\0\0\0\0\0\xC3", 10).substr(0, bytes.size()));
}

Bytes pattern_bytes(int size, int seed) {
  Bytes bytes(static_cast<std::size_t>(size), '\0');
  unsigned state = static_cast<unsigned>(seed) * 2654435761u + 1;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

Bytes raw_entry(char type, const std::string& name, int first_sector, int start, int length,
    int attributes, const std::string& long_name) {
  Bytes entry = type + (name + Bytes(8, ' ')).substr(0, 8);
  for (const int value : {first_sector, start, length})
    entry += {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
  return entry + static_cast<char>(attributes) + (long_name + Bytes(16, ' ')).substr(0, 16);
}

Bytes build_raw_image(const RawImage& image) {
  Bytes bytes(static_cast<std::size_t>(image.last_sector + 1) * 128, static_cast<char>(0xFF));
  const Bytes booter =
      make_booter(image.booter_size < 0 ? 128 * image.boot_sectors : image.booter_size);
  bytes.replace(0, booter.size(), booter);
  bytes.replace(12, 4,
      {char(image.boot_sectors), char(image.dir_sectors), char(image.last_sector & 0xFF),
          char(image.last_sector >> 8)});
  const std::size_t directory = static_cast<std::size_t>(image.boot_sectors) * 128;
  bytes.replace(directory, image.dir_sectors * 128u, image.dir_sectors * 128u, '\xE5');
  for (const auto& [slot, entry] : image.slots)
    bytes.replace(directory + static_cast<std::size_t>(slot) * 32, 32, entry);
  for (const auto& [sector, data] : image.data)
    bytes.replace(static_cast<std::size_t>(sector) * 128, data.size(), data);
  return bytes;
}

::testing::AssertionResult same_bytes(const Bytes& actual, const Bytes& expected) {
  if (actual == expected) return ::testing::AssertionSuccess();
  const auto at = static_cast<std::size_t>(
      std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end()).first -
      actual.begin());
  return ::testing::AssertionFailure()
         << "lengths " << actual.size() << " (actual) and " << expected.size()
         << " (expected); first difference at offset " << at << " (sector " << at / 128 << ")";
}

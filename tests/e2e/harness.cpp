#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "cli/options.h"

namespace {

constexpr uid_t NOBODY = 65534;

std::string make_temp_dir() {
  std::string pattern = "/tmp/vemtool-e2e-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  ::chmod(pattern.c_str(), 0777);
  return pattern;
}

void remove_tree(const std::string& path) {
  const std::string command = "chmod -R u+rwx '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", path.c_str());
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

}  // namespace

void E2eTest::SetUp() {
  dir_ = make_temp_dir();
  scratch_ = make_temp_dir();
}

void E2eTest::TearDown() {
  remove_tree(dir_);
  remove_tree(scratch_);
}

RunResult E2eTest::run(const std::vector<std::string>& args, const RunOptions& options) {
  const std::string in_path = scratch_ + "/stdin";
  const std::string out_path = scratch_ + "/stdout";
  const std::string err_path = scratch_ + "/stderr";
  {
    std::ofstream in(in_path, std::ios::binary | std::ios::trunc);
    in << options.input;
  }
  ::chmod(in_path.c_str(), 0666);
  std::vector<std::string> argv_text;
  const char* program = VEMTOOL_BINARY;
#ifdef VEMTOOL_VALGRIND
  // valgrind cannot pass on another program name, so those runs go bare.
  if (options.argv0.empty()) {
    program = VEMTOOL_VALGRIND;
    argv_text = {VEMTOOL_VALGRIND, "--quiet", "--leak-check=full", "--error-exitcode=1"};
  }
#endif
  argv_text.push_back(options.argv0.empty() ? std::string(VEMTOOL_BINARY) : options.argv0);
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& text : argv_text) argv.push_back(text.data());
  argv.push_back(nullptr);

  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child == 0) {
    const int in = ::open(in_path.c_str(), O_RDONLY);
    const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (in < 0 || out < 0 || err < 0) ::_exit(127);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    if (::chdir(dir_.c_str()) != 0) ::_exit(127);
    if (options.file_size_limit >= 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{static_cast<rlim_t>(options.file_size_limit),
                         static_cast<rlim_t>(options.file_size_limit)};
      ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    if (options.unprivileged && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(NOBODY) != 0 || ::setuid(NOBODY) != 0) ::_exit(127);
    }
    ::execv(program, argv.data());
    ::_exit(127);
  }
  int wait_status = 0;
  ::waitpid(child, &wait_status, 0);
  RunResult result;
  result.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  result.out = slurp(out_path);
  result.err = slurp(err_path);
  return result;
}

void E2eTest::write_file(const std::string& name, const Bytes& bytes) {
  std::ofstream out(path(name), std::ios::binary | std::ios::trunc);
  out << bytes;
}

Bytes E2eTest::read_file(const std::string& name) const { return slurp(path(name)); }

bool E2eTest::exists(const std::string& name) const { return ::access(path(name).c_str(), F_OK) == 0; }

void E2eTest::make_dir(const std::string& name) {
  ::mkdir(path(name).c_str(), 0777);
  ::chmod(path(name).c_str(), 0777);
}

void E2eTest::give_to_nobody(const std::string& name) {
  if (::geteuid() == 0 && ::chown(path(name).c_str(), NOBODY, NOBODY) != 0) std::abort();
}

void E2eTest::make_read_only(const std::string& name) { ::chmod(path(name).c_str(), 0444); }

std::vector<std::string> E2eTest::list_dir(const std::string& name) const {
  std::vector<std::string> names;
  DIR* handle = ::opendir(path(name).c_str());
  if (handle == nullptr) return names;
  while (const dirent* item = ::readdir(handle)) {
    const std::string entry = item->d_name;
    if (entry != "." && entry != "..") names.push_back(entry);
  }
  ::closedir(handle);
  std::sort(names.begin(), names.end());
  return names;
}

void E2eTest::create_image(const std::string& image, int size_kb, int dir_items, int booter_size) {
  write_file("boot.bin", make_booter(booter_size));
  const RunResult result = run({image, "-ic", "-is", std::to_string(size_kb), "-id",
                                std::to_string(dir_items), "-ib", "boot.bin"});
  ASSERT_EQ(result.status, 0) << result.err;
}

RunOptions unprivileged() {
  RunOptions options;
  options.unprivileged = true;
  return options;
}

RunOptions size_limited(long bytes) {
  RunOptions options;
  options.file_size_limit = bytes;
  return options;
}

RunOptions invoked_as(const std::string& argv0) {
  RunOptions options;
  options.argv0 = argv0;
  return options;
}

void expect_run(const RunResult& result, const std::string& out, const std::string& err, int status) {
  EXPECT_EQ(result.out, out_with_banner(out));
  EXPECT_EQ(result.err, err.empty() ? "" : err_line(err));
  EXPECT_EQ(result.status, status);
}

std::string out_with_banner(const std::string& text) { return std::string(BANNER_TEXT) + text; }

std::string err_line(const std::string& message) { return message + "\n\n"; }

Bytes make_booter(int size) {
  Bytes bytes(static_cast<std::size_t>(size), '\0');
  for (int i = 0; i < size; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(0x40 + i % 61);
  const unsigned char header[10] = {0xCD, 0x00, 0x8C, 0x10, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC3};
  for (int i = 0; i < 10 && i < size; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(header[i]);
  return bytes;
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
  Bytes entry(32, ' ');
  entry[0] = type;
  for (std::size_t i = 0; i < 8 && i < name.size(); ++i) entry[1 + i] = name[i];
  entry[9] = static_cast<char>(first_sector & 0xFF);
  entry[10] = static_cast<char>(first_sector >> 8);
  entry[11] = static_cast<char>(start & 0xFF);
  entry[12] = static_cast<char>(start >> 8);
  entry[13] = static_cast<char>(length & 0xFF);
  entry[14] = static_cast<char>(length >> 8);
  entry[15] = static_cast<char>(attributes);
  for (std::size_t i = 0; i < 16 && i < long_name.size(); ++i) entry[16 + i] = long_name[i];
  return entry;
}

Bytes build_raw_image(const RawImage& image) {
  Bytes bytes(static_cast<std::size_t>(image.last_sector + 1) * 128, static_cast<char>(0xFF));
  const Bytes booter = make_booter(128 * image.boot_sectors);
  bytes.replace(0, booter.size(), booter);
  bytes[12] = static_cast<char>(image.boot_sectors);
  bytes[13] = static_cast<char>(image.dir_sectors);
  bytes[14] = static_cast<char>(image.last_sector & 0xFF);
  bytes[15] = static_cast<char>(image.last_sector >> 8);
  const std::size_t directory = static_cast<std::size_t>(image.boot_sectors) * 128;
  std::fill_n(bytes.begin() + static_cast<long>(directory), image.dir_sectors * 128, static_cast<char>(0xE5));
  for (const auto& [slot, entry] : image.slots) bytes.replace(directory + static_cast<std::size_t>(slot) * 32, 32, entry);
  for (const auto& [sector, data] : image.data) bytes.replace(static_cast<std::size_t>(sector) * 128, data.size(), data);
  return bytes;
}

std::uint16_t u16_at(const Bytes& bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(bytes[offset]) |
                                    (static_cast<unsigned char>(bytes[offset + 1]) << 8));
}

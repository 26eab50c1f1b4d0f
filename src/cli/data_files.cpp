#include "cli/data_files.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>

#include "cli/errors.h"
#include "image/platform.h"
#include "names/name81.h"

// The installed data directory as seen from the executable's directory; the
// build passes the one of its install layout.
#ifndef VEMTOOL_DATA_FROM_BIN
#define VEMTOOL_DATA_FROM_BIN "../share/vemtool"
#endif

namespace fs = std::filesystem;

namespace {

constexpr const char* DATA_DIR_FROM_EXECUTABLE = VEMTOOL_DATA_FROM_BIN;
constexpr char SEARCH_PATH_SEPARATOR = HOST_IS_WINDOWS ? ';' : ':';

// The directory part of a host path with its final separator; empty when
// the path has none.
std::string directory_of(const std::string& path) {
  const int separator = host_separator(path.c_str());
  return separator < 0 ? std::string() : path.substr(0, static_cast<std::size_t>(separator) + 1);
}

// A directory is no data file: the read would fail later with a worse message.
bool file_exists(const std::string& path) {
  return path_exists(path.c_str()) && !path_is_directory(path.c_str());
}

}  // namespace

std::string find_in_search_path(const char* program, const char* search_path) {
  if (search_path == nullptr || program[0] == '\0') return "";
  constexpr fs::perms ANY_EXECUTE =
      fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec;
  const std::string list(search_path);
  std::size_t begin = 0;
  for (;;) {
    const std::size_t end = std::min(list.find(SEARCH_PATH_SEPARATOR, begin), list.size());
    const std::string directory = end == begin ? "." : list.substr(begin, end - begin);
    const fs::path candidate = fs::path(directory) / program;
    std::error_code error;
    const fs::file_status status = fs::status(candidate, error);
    if (!error && fs::is_regular_file(status) &&
        (status.permissions() & ANY_EXECUTE) != fs::perms::none) {
      return candidate.string();
    }
    if (end == list.size()) return "";
    begin = end + 1;
  }
}

std::string executable_path(const char* program) {
  std::string path = executable_directory();  // the system's answer, where it has one
  if (!path.empty()) return path;
  path = host_separator(program) >= 0 ? std::string(program)
                                      : find_in_search_path(program, std::getenv("PATH"));
  if (path.empty()) return "";
  std::error_code error;
  const fs::path resolved =
      fs::canonical(path, error);  // links resolved, as the system would tell it
  return error ? std::string() : resolved.string();
}

int find_data_file(const Context& ctx, const char* file_name, PathField& out) {
  std::string first;
  const auto found_in = [&](const std::string& directory) {
    const std::string path = directory + file_name;
    if (first.empty()) first = path;
    return file_exists(path) && copy_path(out, path.c_str());
  };
  if (ctx.boot_file_given && found_in(directory_of(ctx.boot_file.data()))) return 0;
  if (found_in(directory_of(ctx.program_path))) return 0;
  // Only now is the executable asked for: most runs find their file above.
  const std::string executable_dir = directory_of(executable_path(ctx.program_path));
  if (!executable_dir.empty()) {
    if (found_in(executable_dir)) return 0;
    std::string installed =
        (fs::path(executable_dir) / DATA_DIR_FROM_EXECUTABLE).lexically_normal().string();
    if (installed.back() != '/') installed += '/';
    if (found_in(installed)) return 0;
  }
  return copy_path(out, first.c_str()) ? 0 : report_error(ERR_OPEN_READ, first.c_str());
}

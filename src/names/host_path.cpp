#include "names/host_path.h"

#include <cstring>
#include <string>

#include "cli/errors.h"
#include "names/name81.h"

bool copy_path(PathField& dest, const char* text) {
  const std::size_t length = std::strlen(text);
  if (length >= dest.size()) return false;
  std::memcpy(dest.data(), text, length + 1);
  return true;
}

int host_separator(const char* path) {
  const char* slash = std::strrchr(path, '/');
  const char* backslash = std::strrchr(path, '\\');
  // Windows takes both in one path (a\\b/c), so the last of either ends its directory.
  if (slash == nullptr || (HOST_IS_WINDOWS && backslash != nullptr && backslash > slash)) {
    slash = backslash;
  }
  if (slash != nullptr) return static_cast<int>(slash - path);
  // C:name is a name in drive C's current directory, not a file named "C:name".
  const char letter = static_cast<char>(path[0] | 0x20);  // lower case
  return HOST_IS_WINDOWS && letter >= 'a' && letter <= 'z' && path[1] == ':' ? 1 : -1;
}

int parse_host_path(Context& ctx, PathField& dest, const char* text, const char* option,
    Wildcards wildcards, PathKept kept, NameFromPath derive) {
  const bool whole_path = kept == WHOLE_PATH;
  const int separator = host_separator(text);
  const std::size_t length = std::strlen(text);
  if (separator >= 0 && static_cast<std::size_t>(separator) + 1 == length) {
    return report_error(ERR_INVALID_NAME, text, option);
  }
  std::string stored;
  if (separator >= 0) {
    stored = whole_path ? std::string(text) : std::string(text, separator + 1);
  } else {
    stored = CURRENT_DIR_PREFIX;
    if (whole_path) stored += text;
  }
  // Too long for the path field: refuse rather than cut it into another name.
  if (!copy_path(dest, stored.c_str())) return report_error(ERR_INVALID_NAME, text, option);
  if (derive == PATH_ONLY) return 0;

  const std::string candidate = derived_name_text(text);
  if (candidate.empty()) return report_error(ERR_INVALID_NAME, text, option);
  return parse_derived_name(ctx, candidate.c_str(), option, wildcards);
}

std::string derived_name_text(const char* path) {
  const std::string file_part(path + host_separator(path) + 1);
  const std::size_t point = file_part.find('.');
  const std::size_t n = point == std::string::npos ? file_part.size() : point;
  if (n == 0 || (point != std::string::npos && point + 1 == file_part.size())) return "";
  if (point == std::string::npos) return file_part.substr(0, 8);
  return file_part.substr(0, n > 8 ? 8 : n) + '.' + file_part[point + 1];
}

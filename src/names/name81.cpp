#include "names/name81.h"

#include <cstring>
#include <string>

#include "cli/errors.h"
#include "image/platform.h"

namespace {

char upper_ascii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool is_name_char(int c) {
  const auto signed_byte = static_cast<signed char>(c);
  return signed_byte >= 0x21 && signed_byte <= 0x7E;
}

bool entry_in_use(const DirEntry& entry) {
  return is_name_char(entry.type) && is_name_char(entry.name[0]);
}

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
  if (slash == nullptr || (HOST_IS_WINDOWS && backslash != nullptr && backslash > slash)) slash = backslash;
  return slash == nullptr ? -1 : static_cast<int>(slash - path);
}

namespace {

// The parser behind parse_name81; `storable_only` refuses exact names that a
// used directory slot cannot hold.
int parse_name(const char* text, const char* option, int wildcards, bool storable_only, NameSlot& slot) {
  const std::size_t length = std::strlen(text);
  const char* point = std::strchr(text, '.');
  const std::size_t name_length = point != nullptr ? static_cast<std::size_t>(point - text) : length;
  const bool has_point = point != nullptr;
  const bool good_shape =
      has_point ? (name_length >= 1 && name_length <= 8 && length - name_length - 1 == 1)
                : length <= 8;
  if (!good_shape) return report_error(ERR_INVALID_NAME, text, option);

  std::array<char, 9> form{};
  bool star = false;
  for (std::size_t i = 0; i < 8; ++i) {
    if (star) {
      form[i] = '?';
    } else if (i < name_length) {
      if (text[i] == '*') star = true;
      form[i] = star ? '?' : text[i];
    } else {
      form[i] = ' ';
    }
  }
  if (!wildcards) {
    bool ambiguous = !has_point;
    for (std::size_t i = 0; i < 8; ++i) ambiguous = ambiguous || form[i] == '?';
    if (ambiguous) return report_error(ERR_AMBIGUOUS_NAME, text, option);
  }
  form[8] = has_point ? point[1] : ' ';
  for (char& c : form) c = upper_ascii(c);
  // An entry whose first name byte or type is no name character reads as a
  // free slot: a file stored under such a name would silently vanish.
  if (!wildcards && storable_only && !(is_name_char(form[0]) && is_name_char(form[8]))) {
    return report_error(ERR_INVALID_NAME, text, option);
  }

  slot = NameSlot{};
  std::memcpy(slot.padded.data(), form.data(), form.size());
  int last = 7;
  while (last >= 0 && form[last] == ' ') --last;
  std::size_t out = 0;
  for (int i = 0; i <= last; ++i) slot.display[out++] = form[i];
  if (has_point) {
    slot.display[out++] = '.';
    slot.display[out++] = form[8];
  }
  slot.display[out] = '\0';
  return 0;
}

}  // namespace

int parse_name81(const char* text, const char* option, int wildcards, NameSlot& slot) {
  return parse_name(text, option, wildcards, true, slot);
}

bool name_storable(const NameSlot& slot) {
  return is_name_char(slot.padded[0]) && is_name_char(slot.padded[8]);
}

int set_main_name(Context& ctx, const char* text, const char* option, int wildcards) {
  return parse_name81(text, option, wildcards, ctx.name);
}

std::string derived_name_text(const char* path) {
  const std::string file_part(path + host_separator(path) + 1);
  const std::size_t point = file_part.find('.');
  const std::size_t n = point == std::string::npos ? file_part.size() : point;
  if (n == 0 || (point != std::string::npos && point + 1 == file_part.size())) return "";
  if (point == std::string::npos) return file_part.substr(0, 8);
  return file_part.substr(0, n > 8 ? 8 : n) + '.' + file_part[point + 1];
}

int parse_host_path(Context& ctx, PathField& dest, const char* text, const char* option,
                    int wildcards, int whole_path, int derive) {
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
  if (!derive) return 0;

  const std::string candidate = derived_name_text(text);
  if (candidate.empty()) return report_error(ERR_INVALID_NAME, text, option);
  // Whether the derived name can be stored is decided once the command line
  // is read: -fn, -fr, -fc and -fl store another name in its place.
  return parse_name(candidate.c_str(), option, wildcards, false, ctx.name);
}

void store_name(DirEntry& entry, const NameSlot& slot) {
  for (std::size_t i = 0; i < entry.name.size(); ++i) entry.name[i] = static_cast<std::uint8_t>(slot.padded[i]);
  entry.type = static_cast<std::uint8_t>(slot.padded[8]);
}

bool entry_matches(const Context& ctx, const DirEntry& entry, int mask_mode) {
  if (!entry_in_use(entry)) return false;
  const auto& form = ctx.name.padded;
  const char type = form[8];
  if (!(mask_mode && type == ' ') && static_cast<char>(entry.type) != type) return false;
  for (int i = 0; i < 8; ++i) {
    if (mask_mode && form[i] == '?') continue;
    if (upper_ascii(static_cast<char>(entry.name[i])) != form[i]) return false;
  }
  return true;
}

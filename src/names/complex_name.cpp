#include "names/complex_name.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/errors.h"
#include "cli/numbers.h"
#include "names/name81.h"

namespace {

constexpr std::size_t WORK_COPY_SIZE = 256;

char* write_escape(unsigned char byte, char* out) {
  constexpr const char* HEX_DIGITS = "0123456789ABCDEF";
  *out++ = '#';
  *out++ = HEX_DIGITS[byte >> 4];
  *out++ = HEX_DIGITS[byte & 0x0F];
  return out;
}

// Control characters would break a list line or a terminal; Windows refuses them in names.
bool is_control(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// Windows opens a device for these names, whatever extension follows.
bool is_device_name(const char* name, std::size_t length) {
  while (length > 0 && name[length - 1] == ' ') --length;  // "NUL " is NUL there too
  std::array<char, 8> upper{};
  if (length < 3 || length > 7) return false;
  for (std::size_t i = 0; i < length; ++i) {
    const char c = name[i];
    upper[i] = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  }
  const std::string_view base(upper.data(), length);
  if (base == "CON" || base == "PRN" || base == "AUX" || base == "NUL" || base == "CONIN$" ||
      base == "CONOUT$") {
    return true;
  }
  return length == 4 && (base.substr(0, 3) == "COM" || base.substr(0, 3) == "LPT") &&
         base[3] >= '1' && base[3] <= '9';
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Cuts `text` at the first `separator`: terminates the head, returns the rest.
char* cut_at(char* text, char separator) {
  char* found = std::strchr(text, separator);
  if (found == nullptr) return nullptr;
  *found = '\0';
  return found + 1;
}

// Copies a decoded field of at most `width` characters, padded with spaces.
template <std::size_t N>
void store_padded(std::array<std::uint8_t, N>& field, const char* decoded) {
  std::size_t i = 0;
  for (; i < N && decoded[i] != '\0'; ++i) field[i] = static_cast<std::uint8_t>(decoded[i]);
  for (; i < N; ++i) field[i] = ' ';
}

bool parse_fields(DirEntry& entry, char* work) {
  std::array<char, 17> decoded{};
  char* rest = cut_at(work, '_');
  if (rest == nullptr || !decode_field(decoded.data(), 8, work) || decoded[0] == '\0') return false;
  store_padded(entry.name, decoded.data());

  char* field = rest;
  rest = cut_at(field, '_');
  if (rest == nullptr || !decode_field(decoded.data(), 16, field)) return false;
  store_padded(entry.long_name, decoded.data());

  field = rest;
  rest = cut_at(field, '_');
  if (rest == nullptr) return false;
  const int start = parse_number(field);
  if (start < 0 || start > 0xFFFF) return false;
  set_u16(entry.start_address, start);

  field = rest;
  rest = cut_at(field, '.');
  if (rest == nullptr) return false;
  const int attributes = parse_number(field);
  if (attributes < 0 || attributes > 0xFF) return false;
  entry.attributes = static_cast<std::uint8_t>(attributes);

  if (!decode_field(decoded.data(), 1, rest) || !is_name_char(decoded[0])) return false;
  entry.type = static_cast<std::uint8_t>(decoded[0]);
  return true;
}

}  // namespace

bool is_special_char(int c, bool with_separators) {
  switch (static_cast<char>(c)) {
    case '"':
    case '*':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '\\':
    case '|':
      return true;
    case ' ':
    case '#':
    case '_':
      return with_separators;
    default:
      return false;
  }
}

char* escape_char(int c, char* out, NameRules rules) {
  const auto byte = static_cast<unsigned char>(c);
  const bool escaped = is_special_char(c, true) ||
                       (rules == NameRules::windows && (is_control(byte) || byte >= 0x80));
  if (!escaped) {
    *out++ = static_cast<char>(c);
    return out;
  }
  return write_escape(byte, out);
}

bool escape_one_more(std::string& name) {
  for (std::size_t at = 0; at < name.size() && name[at] != '_' && name[at] != '.'; ++at) {
    if (name[at] == '#' && at + 2 < name.size() && hex_value(name[at + 1]) >= 0 &&
        hex_value(name[at + 2]) >= 0) {
      at += 2;
      continue;
    }
    std::array<char, 4> escape{};
    write_escape(static_cast<unsigned char>(name[at]), escape.data());
    name.replace(at, 1, escape.data());
    return true;
  }
  return false;
}

bool decode_field(char* out, std::size_t max, const char* text) {
  std::size_t written = 0;
  while (*text != '\0' && written < max) {
    if (*text == '#') {
      const int high = hex_value(text[1]);
      const int low = high < 0 ? -1 : hex_value(text[2]);
      if (low < 0) {
        out[written] = '\0';
        return false;
      }
      out[written++] = static_cast<char>(high * 16 + low);
      text += 3;
    } else {
      out[written++] = *text++;
    }
  }
  out[written] = '\0';
  return *text == '\0';
}

char* trim(char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0 && is_white_space(text[length - 1])) text[--length] = '\0';
  std::size_t start = 0;
  while (is_white_space(text[start])) ++start;
  if (start > 0) std::memmove(text, text + start, length - start + 1);
  return text;
}

int parse_complex_name(DirEntry& entry, const char* text) {
  entry = DirEntry{};
  const int separator = host_separator(text);
  const char* file_part = text + separator + 1;
  std::array<char, WORK_COPY_SIZE> work{};
  if (std::strlen(file_part) >= work.size()) {
    return report_error(ERR_INVALID_COMPLEX_NAME, text);
  }
  std::strcpy(work.data(), file_part);
  if (!parse_fields(entry, work.data())) {
    entry = DirEntry{};
    return report_error(ERR_INVALID_COMPLEX_NAME, text);
  }
  return 0;
}

DisplayName display_name(const std::uint8_t* name, std::uint8_t type) {
  DisplayName display{};
  std::memcpy(display.data(), name, 8);
  trim(display.data());
  const std::size_t length = std::strlen(display.data());
  display[length] = '.';
  display[length + 1] = static_cast<char>(type);
  return display;
}

void build_file_name(const DirEntry& entry, char* out, int form, NameRules rules) {
  DisplayName display = display_name(entry.name.data(), entry.type);
  if (entry.type == ' ') display[std::strlen(display.data()) - 2] = '\0';
  if (form != COMPLEX_FORM) {
    std::memcpy(out, display.data(), display.size());
    return;
  }
  char* p = out;
  for (const char* c = display.data(); *c != '\0' && *c != '.'; ++c) p = escape_char(*c, p, rules);
  *p++ = '_';
  if (entry.long_name[0] != ' ') {
    std::array<char, sizeof(entry.long_name) + 1> long_name{};
    std::memcpy(long_name.data(), entry.long_name.data(), entry.long_name.size());
    trim(long_name.data());
    for (const char* c = long_name.data(); *c != '\0'; ++c) p = escape_char(*c, p, rules);
  }
  // "_65535_255." is the longest form: 11 characters and the terminator.
  std::array<char, 16> numbers{};
  std::snprintf(numbers.data(), numbers.size(), "_%d_%d.", get_u16(entry.start_address),
      static_cast<int>(entry.attributes));
  for (const char* c = numbers.data(); *c != '\0'; ++c) *p++ = *c;
  // Windows drops a final point from a name: the type '.' is kept as its escape.
  const bool final_point = rules == NameRules::windows && entry.type == '.';
  p = final_point ? write_escape(entry.type, p) : escape_char(entry.type, p, rules);
  *p = '\0';
}

void build_plain_host_name(const DirEntry& entry, char* out, NameRules rules) {
  std::array<char, DISPLAY_NAME_SIZE> display{};
  build_file_name(entry, display.data(), DISPLAY_FORM);
  const std::size_t length = std::strlen(display.data());
  const std::size_t name_length = entry.type != ' ' ? length - 2 : length;
  const bool windows = rules == NameRules::windows;
  const char* point = std::strchr(display.data(), '.');
  const std::size_t base_length =
      point != nullptr ? static_cast<std::size_t>(point - display.data()) : length;
  char* p = out;
  for (std::size_t i = 0; i < length; ++i) {
    const auto c = static_cast<unsigned char>(display[i]);
    const bool in_name = i < name_length;
    const bool last = i + 1 == length;
    const bool escaped = is_control(c) || (in_name && c == '/') ||
                         (windows && (c >= 0x80 || (in_name && is_special_char(c, false)) ||
                                         (last && (c == '.' || c == ' ')) ||
                                         (i == 0 && is_device_name(display.data(), base_length))));
    if (escaped) {
      p = write_escape(c, p);
    } else {
      *p++ = static_cast<char>(c);
    }
  }
  *p = '\0';
}

#include "names/name81.h"

#include <array>
#include <cstring>

#include "cli/errors.h"

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

namespace {

bool name_storable_form(const std::array<char, 9>& form) {
  return is_name_char(form[0]) && is_name_char(form[8]);
}

// The parser behind parse_name81; `storable_only` refuses exact names that a
// used directory slot cannot hold.
int parse_name(
    const char* text, const char* option, Wildcards wildcards, bool storable_only, NameSlot& slot) {
  const std::size_t length = std::strlen(text);
  const char* point = std::strchr(text, '.');
  const std::size_t name_length =
      point != nullptr ? static_cast<std::size_t>(point - text) : length;
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
  if (wildcards == NO_WILDCARDS) {
    bool ambiguous = !has_point;
    for (std::size_t i = 0; i < 8; ++i) ambiguous = ambiguous || form[i] == '?';
    if (ambiguous) return report_error(ERR_AMBIGUOUS_NAME, text, option);
  }
  form[8] = has_point ? point[1] : ' ';
  for (char& c : form) c = upper_ascii(c);
  // An entry whose first name byte or type is no name character reads as a
  // free slot: a file stored under such a name would silently vanish.
  if (wildcards == NO_WILDCARDS && storable_only && !name_storable_form(form)) {
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

int parse_name81(const char* text, const char* option, Wildcards wildcards, NameSlot& slot) {
  return parse_name(text, option, wildcards, true, slot);
}

int parse_derived_name(Context& ctx, const char* text, const char* option, Wildcards wildcards) {
  return parse_name(text, option, wildcards, false, ctx.name);
}

bool name_storable(const NameSlot& slot) {
  return is_name_char(slot.padded[0]) && is_name_char(slot.padded[8]);
}

int set_main_name(Context& ctx, const char* text, const char* option, Wildcards wildcards) {
  return parse_name81(text, option, wildcards, ctx.name);
}

void store_name(DirEntry& entry, const NameSlot& slot) {
  for (std::size_t i = 0; i < entry.name.size(); ++i)
    entry.name[i] = static_cast<std::uint8_t>(slot.padded[i]);
  entry.type = static_cast<std::uint8_t>(slot.padded[8]);
}

void store_long_name(DirEntry& entry, const Context& ctx) {
  for (std::size_t i = 0; i < entry.long_name.size(); ++i) {
    entry.long_name[i] = static_cast<std::uint8_t>(ctx.long_name[i]);
  }
}

bool entry_matches(const Context& ctx, const DirEntry& entry, int mask_mode) {
  if (!entry_in_use(entry)) return false;
  const auto& form = ctx.name.padded;
  const bool as_mask = mask_mode == MATCH_MASK;
  const char type = form[8];
  if (!(as_mask && type == ' ') && static_cast<char>(entry.type) != type) return false;
  for (int i = 0; i < 8; ++i) {
    if (as_mask && form[i] == '?') continue;
    if (upper_ascii(static_cast<char>(entry.name[i])) != form[i]) return false;
  }
  return true;
}

// Complex file names: fname_lname_sa_attr.T with #HH escapes, carrying every
// parameter of a stored file in a host file name.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "cli/modes.h"
#include "image/image_format.h"
#include "image/platform.h"

// Which host's file-name rules a built host name keeps. Windows reserves
// more characters, device names and a trailing point or blank.
enum class NameRules { posix, windows };
constexpr NameRules HOST_NAME_RULES = HOST_IS_WINDOWS ? NameRules::windows : NameRules::posix;

constexpr std::size_t COMPLEX_NAME_SIZE = 88;  // longest built name and terminator
constexpr std::size_t DISPLAY_NAME_SIZE = 11;  // 8 name characters, point, type, terminator

using DisplayName = std::array<char, DISPLAY_NAME_SIZE>;

// NAME.T: the 8 name bytes at `name` without surrounding white space, a point
// and the type byte.
DisplayName display_name(const std::uint8_t* name, std::uint8_t type);

// Fills `entry` (zeroed first, and zeroed again on failure) from `text`; its
// directory part is ignored. 0, or ERR_INVALID_COMPLEX_NAME reported with the
// whole text.
int parse_complex_name(DirEntry& entry, const char* text);

// Writes the display name of `entry` (NAME.T, or NAME for a blank type) into
// `out`, or, for COMPLEX_FORM, its complex file name, which every host under
// `rules` can hold. `form` is a NameForm; `out` must hold COMPLEX_NAME_SIZE
// bytes for COMPLEX_FORM and DISPLAY_NAME_SIZE bytes otherwise.
void build_file_name(const DirEntry& entry, char* out, int form, NameRules rules = HOST_NAME_RULES);

// The host file name of a plain extraction: the display name with #HH in
// place of what would leave the target directory or that the host cannot
// hold (a type character of that kind is left to the caller's "bin" rule).
// `out` must hold COMPLEX_NAME_SIZE bytes.
void build_plain_host_name(const DirEntry& entry, char* out, NameRules rules = HOST_NAME_RULES);

// Writes one more character of the name part of a built host name (before
// its first '_' or '.') as #HH: the first that is no escape yet. The name
// then differs from every other while it reads back the same. False when
// no character is left.
bool escape_one_more(std::string& name);

// Characters a host file name cannot carry (and, with separators, those that
// separate the fields of a complex name).
bool is_special_char(int c, bool with_separators);

// Writes `c` at `out`, escaped as #HH when it is special (with separators),
// or under Windows rules a control character or a byte beyond ASCII (no
// UTF-8 on its own); returns the position after it.
char* escape_char(int c, char* out, NameRules rules = HOST_NAME_RULES);

// Decodes #HH escapes of `text` into `out` (at most `max` characters, then a
// terminator). False on a bad escape or when text is left over.
bool decode_field(char* out, std::size_t max, const char* text);

// Removes trailing, then leading white space in place; returns `text`.
char* trim(char* text);

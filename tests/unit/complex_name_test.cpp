#include <gtest/gtest.h>

#include <cstring>

#include "cli/errors.h"
#include "names/complex_name.h"

constexpr int BAD = ERR_INVALID_COMPLEX_NAME;

// Name and long name are given unpadded and stored padded with spaces.
static DirEntry entry_of(
    const std::string& name, const std::string& long_name, int start, int attributes, char type) {
  DirEntry entry{
      static_cast<std::uint8_t>(type), {}, {}, {}, {}, static_cast<std::uint8_t>(attributes), {}};
  (name + std::string(8, ' ')).copy(reinterpret_cast<char*>(entry.name.data()), entry.name.size());
  (long_name + std::string(16, ' '))
      .copy(reinterpret_cast<char*>(entry.long_name.data()), entry.long_name.size());
  set_u16(entry.start_address, start);
  return entry;
}
static std::string bytes(const DirEntry& entry) {
  return {reinterpret_cast<const char*>(&entry), sizeof entry};
}
static DirEntry game(int start, int attributes) {
  return entry_of("GAME", "", start, attributes, 'B');
}

// PARSE: text to entry (left zeroed when refused); BUILD: entry to complex name; BOTH; DISPLAY:
// entry to display name.
enum Way { PARSE = 1, BUILD = 2, BOTH = 3, DISPLAY = 4 };
struct ComplexCase {
  const char *id, *text;
  int code;
  DirEntry entry = {};
  int way = PARSE;
};
void PrintTo(const ComplexCase& c, std::ostream* out) { *out << c.id; }
class ComplexName : public ::testing::TestWithParam<ComplexCase> {};

TEST_P(ComplexName, ReadsWritesOrRefuses) {
  const ComplexCase& c = GetParam();
  if (c.way & PARSE) {
    DirEntry entry{'J', {}, {1, 2}, {3, 4}, {5, 6}, 7, {}};  // stale contents, all replaced
    EXPECT_EQ(parse_complex_name(entry, c.text), c.code);
    EXPECT_EQ(bytes(entry), bytes(c.entry));
  }
  if (c.way == PARSE) return;
  char text[256];
  build_file_name(
      c.entry, text, (c.way & BUILD) != 0 ? COMPLEX_FORM : DISPLAY_FORM, NameRules::posix);
  EXPECT_STREQ(text, c.text);
  EXPECT_LT(std::strlen(text), c.way == DISPLAY ? DISPLAY_NAME_SIZE : COMPLEX_NAME_SIZE);
}

const char* const LONGEST =
    "#22#2A#2F#3A#3C#3E#3F#5C_#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C_65535_255.#5F";
const ComplexCase CASES[] = {{"EmptyFields", "GAME___.B", 0, game(0, 0)},
    {"HexStartOctalAttributes", "GAME__0x8000_010.B", 0, game(32768, 8)},
    {"DirectoryIgnored", "c:\\dir\\GAME__0_0.B", 0, game(0, 0)},
    {"NegativeAttributes", "GAME__0_-1.B", BAD},
    {"EitherCaseEscapesNoUpperCasing", "a#5fb_x#20y_0_0.#2a", 0, entry_of("a_b", "x y", 0, 0, '*')},
    {"DecodedNulEndsField", "AB#00CD_L#00M_0_0.B", 0, entry_of("AB", "L", 0, 0, 'B')},
    {"TrimmedFields", "GAME_My#20Game_32768_1.B", 0, entry_of("GAME", "My Game", 32768, 1, 'B'),
        BOTH},
    {"DisplayName", "GAME.B", 0, entry_of("GAME", "My Game", 32768, 1, 'B'), DISPLAY},
    {"FullFieldsEscapedPointKept", "AB#23C#20DE#5F_x#5Fy#23z#20w.BCDEFGHI_4660_3.#23", 0,
        entry_of("AB#C DE_", "x_y#z w.BCDEFGHI", 4660, 3, '#'), BOTH},
    {"LongestWithLimits", LONGEST, 0, entry_of("\"*/:<>?\\", "||||||||||||||||", 65535, 255, '_'),
        BOTH},
    {"LongNameStartingWithSpaceLeftOut", "GAME__0_0.B", 0, entry_of("GAME", " lead", 0, 0, 'B'),
        BUILD},
    {"ControlAndHighBytesUnescaped", "A\x01\t\x7F\xE9__0_0.B", 0,
        entry_of("A\x01\t\x7F\xE9", "", 0, 0, 'B'), BUILD},
    {"SeventeenthLongChar", "GAME_ABCDEFGHIJKLMNOPQ_0_0.B", BAD},
    {"AttributesTooLarge", "GAME__0_256.B", BAD}, {"NinthNameChar", "GAMEFGHIJ__0_0.B", BAD},
    {"StartTooLarge", "GAME__65536_0.B", BAD}, {"NulFirstInName", "#00AME__0_0.B", BAD},
    {"SecondTypeChar", "GAME__0_0.BC", BAD}, {"NonHexEscape", "#G1AME__0_0.B", BAD},
    {"MissingSeparator", "GAME_0_0.B", BAD}, {"CutEscape", "GAME#4__0_0.B", BAD},
    {"SpaceType", "GAME__0_0.#20", BAD}, {"NegativeStart", "GAME__-1_0.B", BAD}};
INSTANTIATE_TEST_SUITE_P(Texts, ComplexName, ::testing::ValuesIn(CASES),
    [](const auto& info) { return std::string(info.param.id); });

TEST(Trim, StripsSurroundingWhiteSpaceInPlace) {
  std::string text = " \t a b \r\n\v\f", blank = " \t ";
  EXPECT_EQ(trim(text.data()), text.data());
  EXPECT_STREQ(text.c_str(), "a b");
  EXPECT_STREQ(trim(blank.data()), "");
}

// Host names of extracted files: what each host's rules escape, and what they keep.
struct HostNameCase {
  const char* id;
  DirEntry entry;
  const char *plain_posix, *plain_windows;
};
void PrintTo(const HostNameCase& c, std::ostream* out) { *out << c.id; }
class PlainHostName : public ::testing::TestWithParam<HostNameCase> {};

TEST_P(PlainHostName, EscapesWhatTheHostCannotHold) {
  const HostNameCase& c = GetParam();
  char text[COMPLEX_NAME_SIZE];
  build_plain_host_name(c.entry, text, NameRules::posix);
  EXPECT_STREQ(text, c.plain_posix);
  build_plain_host_name(c.entry, text, NameRules::windows);
  EXPECT_STREQ(text, c.plain_windows);
}

const HostNameCase HOST_NAME_CASES[] = {
    {"SlashInName", entry_of("A/B", "", 0, 0, 'B'), "A#2FB.B", "A#2FB.B"},
    {"BackslashesClimbOnWindows", entry_of("..\\..\\XY", "", 0, 0, 'B'), "..\\..\\XY.B",
        "..#5C..#5CXY.B"},
    {"ReservedCharacters", entry_of("<>:\"|?*\\", "", 0, 0, 'B'), "<>:\"|?*\\.B",
        "#3C#3E#3A#22#7C#3F#2A#5C.B"},
    {"ControlCharacters",
        entry_of("A\x01"
                 "B",
            "", 0, 0, '\n'),
        "A#01B.#0A", "A#01B.#0A"},
    {"HighBytes", entry_of("A\xE9", "", 0, 0, 'B'), "A\xE9.B", "A#E9.B"},
    {"DeviceNameLowerCaseNoType", entry_of("con", "", 0, 0, ' '), "con", "#63on"},
    {"NumberedDeviceBeforeInnerPoint", entry_of("COM1.X", "", 0, 0, 'B'), "COM1.X.B", "#43OM1.X.B"},
    {"LongerThanDevice", entry_of("NULL", "", 0, 0, 'B'), "NULL.B", "NULL.B"},
    {"PointType", entry_of("AB", "", 0, 0, '.'), "AB..", "AB.#2E"}};
INSTANTIATE_TEST_SUITE_P(Entries, PlainHostName, ::testing::ValuesIn(HOST_NAME_CASES),
    [](const auto& info) { return std::string(info.param.id); });

TEST(ComplexNameOnWindows, EscapesControlHighBytesAndFinalPointAndReadsBack) {
  const DirEntry entry = entry_of("A\x01\xE9", "x\x7F", 0, 0, '.');
  char text[COMPLEX_NAME_SIZE];
  build_file_name(entry, text, COMPLEX_FORM, NameRules::windows);
  EXPECT_STREQ(text, "A#01#E9_x#7F_0_0.#2E");
  DirEntry parsed{};
  ASSERT_EQ(parse_complex_name(parsed, text), 0);
  EXPECT_EQ(0, std::memcmp(&parsed, &entry, sizeof entry));
}

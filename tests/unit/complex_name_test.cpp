#include <gtest/gtest.h>

#include <cstring>

#include "cli/errors.h"
#include "names/complex_name.h"

constexpr int BAD = ERR_INVALID_COMPLEX_NAME;

// Name and long name are given unpadded and stored padded with spaces.
static DirEntry entry_of(std::string name, std::string long_name, int start, int attributes, char type) {
  DirEntry entry{static_cast<std::uint8_t>(type), {}, {}, {}, {}, static_cast<std::uint8_t>(attributes), {}};
  name.resize(entry.name.size(), ' ');
  long_name.resize(entry.long_name.size(), ' ');
  std::memcpy(entry.name.data(), name.data(), name.size());
  std::memcpy(entry.long_name.data(), long_name.data(), long_name.size());
  set_u16(entry.start_address, start);
  return entry;
}
static std::string bytes(const DirEntry& entry) { return {reinterpret_cast<const char*>(&entry), sizeof entry}; }
static std::string built_name(const DirEntry& e) { char s[COMPLEX_NAME_SIZE]; build_file_name(e, s, 1); return s; }
static DirEntry game(int start, int attributes) { return entry_of("GAME", "", start, attributes, 'B'); }

struct ParseCase { const char *id, *text; int code; DirEntry entry = {}; };
class ParseComplexName : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseComplexName, FillsEntryOrRefuses) {
  DirEntry entry{};
  ASSERT_EQ(parse_complex_name(entry, GetParam().text), GetParam().code);
  if (GetParam().code != 0) return;
  EXPECT_EQ(bytes(entry), bytes(GetParam().entry));
}

const ParseCase PARSE_CASES[] = {
    {"EmptyFields", "GAME___.B", 0, game(0, 0)}, {"HexStart", "GAME__0x8000_1.B", 0, game(32768, 1)},
    {"OctalStart", "GAME__0100_0.B", 0, game(64, 0)}, {"Limits", "GAME__65535_255.B", 0, game(65535, 255)},
    {"TextAfterNumber", "GAME__12abc_0.B", 0, game(12, 0)}, {"DirectoryIgnored", "c:\\dir\\GAME__0_0.B", 0, game(0, 0)},
    {"EitherCaseEscapesNoUpperCasing", "a#5fb_x#20y_0_0.#2a", 0, entry_of("a_b", "x y", 0, 0, '*')},
    {"FullFields", "ABCDEFG#5F_ABCDEFGHIJKLMNOP_0_0.B", 0, entry_of("ABCDEFG_", "ABCDEFGHIJKLMNOP", 0, 0, 'B')},
    {"DecodedNulEndsField", "AB#00CD_L#00M_0_0.B", 0, entry_of("AB", "L", 0, 0, 'B')},
    {"SplitsAtLastSlash", "a\\b/G\\ME__0_0.B", 0, entry_of("G\\ME", "", 0, 0, 'B')},
    {"StartTooLarge", "GAME__65536_0.B", BAD}, {"ZeroThenText", "GAME__0abc_0.B", BAD},
    {"AttributesTooLarge", "GAME__0_256.B", BAD}, {"NegativeStart", "GAME__-1_0.B", BAD},
    {"CutEscape", "GAME#4__0_0.B", BAD}, {"NonHexEscape", "#G1AME__0_0.B", BAD},
    {"SpaceType", "GAME__0_0.#20", BAD}, {"NinthNameChar", "GAMEFGHIJ__0_0.B", BAD},
    {"SeventeenthLongChar", "GAME_ABCDEFGHIJKLMNOPQ_0_0.B", BAD}, {"SecondTypeChar", "GAME__0_0.BC", BAD},
    {"NulFirstInName", "#00AME__0_0.B", BAD}, {"MissingSeparator", "GAME_0_0.B", BAD}};
INSTANTIATE_TEST_SUITE_P(Texts, ParseComplexName, ::testing::ValuesIn(PARSE_CASES),
                         [](const auto& info) { return std::string(info.param.id); });

TEST(BuildFileName, WritesDisplayAndComplexNames) {
  char display[DISPLAY_NAME_SIZE];
  build_file_name(entry_of("GAME", "My Game", 32768, 1, 'B'), display, 0);
  EXPECT_STREQ(display, "GAME.B");
  EXPECT_EQ(built_name(entry_of("GAME", "My Game", 32768, 1, 'B')), "GAME_My#20Game_32768_1.B");
  EXPECT_EQ(built_name(game(0, 0)), "GAME__0_0.B");
}

TEST(BuildFileName, LeavesOutLongNameStartingWithSpace) {
  EXPECT_EQ(built_name(entry_of("GAME", " lead", 0, 0, 'B')), "GAME__0_0.B");
}

TEST(BuildFileName, WritesControlAndHighBytesUnescaped) {
  EXPECT_EQ(built_name(entry_of("A\x01\x7F\xE9", "", 0, 0, 'B')), "A\x01\x7F\xE9__0_0.B");
}

TEST(BuildFileName, ParsesBackToSameEntry) {
  const DirEntry longest = entry_of("\"*/:<>?\\", "||||||||||||||||", 65535, 255, '_');
  EXPECT_EQ(built_name(longest).size(), COMPLEX_NAME_SIZE - 1);
  for (const DirEntry& entry : {longest, entry_of("A_B#C D", "x_y#z w", 4660, 3, '#')}) {
    DirEntry back{};
    EXPECT_EQ(parse_complex_name(back, built_name(entry).c_str()), 0);
    EXPECT_EQ(bytes(back), bytes(entry)) << built_name(entry);
  }
}

TEST(EscapeChar, EscapesSpecialCharactersOnly) {
  char out[32], *end = out;
  for (char c : {' ', '#', '_', '|', '\\', '.', '\t', '\xE9'}) end = escape_char(c, end);
  EXPECT_EQ(std::string(out, end), "#20#23#5F#7C#5C.\t\xE9");
}

TEST(DecodeField, DecodesUpToLimit) {
  char out[3];
  EXPECT_TRUE(decode_field(out, 2, "#4a#4B") && std::string(out) == "JK");
  EXPECT_FALSE(decode_field(out, 2, "abc") || decode_field(out, 2, "a#4"));
}

TEST(Trim, StripsSurroundingWhiteSpaceInPlace) {
  std::string text = " \t a b \r\n\v\f", blank = " \t ";
  EXPECT_EQ(trim(text.data()), text.data());
  EXPECT_STREQ(text.c_str(), "a b");
  EXPECT_STREQ(trim(blank.data()), "");
}

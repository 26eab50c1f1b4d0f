// The pure logic under the command line: numbers, 8.1 names and masks, host
// paths, matching, complex names and host names on either host's rules.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/errors.h"
#include "cli/numbers.h"
#include "names/complex_name.h"
#include "names/name81.h"

namespace {

TEST(ParseNumber, ReadsOrRefuses) {
  const std::pair<const char*, int> cases[] = {{"512", 512}, {"0x200", 512}, {"0X1f", 31},
      {"01000", 512}, {"12abc", 12}, {"abc", -1}, {"", 0}, {"  ", -1}, {"-5", -1}, {"0x", -1},
      {"08", -1}, {"+7", 7}, {"  42", 42}, {"2147483648", 2147483647},
      {"99999999999999999999", 2147483647}, {"-99999999999999999999", -1}};
  for (const auto& [text, value] : cases) EXPECT_EQ(parse_number(text), value) << text;
}

constexpr Wildcards MASK = WILDCARDS_ALLOWED, EXACT = NO_WILDCARDS;
constexpr int NAME = -1, INVALID = ERR_INVALID_NAME, AMBIGUOUS = ERR_AMBIGUOUS_NAME;

// `text` is an option's name (`whole` NAME) or a host path (`whole`: the
// stored path keeps the file part). `slot`: the stored path, the display form
// and the padded form, joined by '|' ("./" the current-directory prefix);
// `windows` replaces it there.
TEST(ParseName, FillsSlotOrRefuses) {
  const std::string longest = "d/" + std::string(249, 'a') + ".bin";  // 255 characters
  const struct {
    std::string text;
    Wildcards wildcards;
    int code;
    std::string slot = "";
    int whole = NAME;
    const char* windows = nullptr;
  } cases[] = {{"~eta.~", EXACT, 0, "|~ETA.~|~ETA    ~"}, {"ab.*", EXACT, 0, "|AB.*|AB      *"},
      {"my file.t", EXACT, 0, "|MY FILE.T|MY FILE T"}, {"a..", EXACT, 0, "|A..|A       ."},
      {"a*c.b", MASK, 0, "|A???????.B|A???????B"}, {"", MASK, 0, "||         "},
      {"a.b.c", MASK, INVALID}, {".b", MASK, INVALID}, {"ab.", MASK, INVALID},
      {"abcdefghi", MASK, INVALID}, {"abcdefghi.b", MASK, INVALID}, {"game", EXACT, AMBIGUOUS},
      {"g?me.b", EXACT, AMBIGUOUS}, {"ga*.b", EXACT, AMBIGUOUS}, {" x.b", EXACT, INVALID},
      {"ab. ", EXACT, INVALID},
      {"longfilename.x.txt", EXACT, 0, "./longfilename.x.txt|LONGFILE.X|LONGFILEX", 1},
      {"a/b\\c.bin", EXACT, 0, "a/b\\c.bin|B\\C.B|B\\C     B", 1, "a/b\\c.bin|C.B|C       B"},
      {"out\\abcdefghij", MASK, 0, "out\\|ABCDEFGH|ABCDEFGH ", 0},
      {"g*", MASK, 0, "./|G???????|G??????? ", 0},
      {longest, EXACT, 0, longest + "|AAAAAAAA.B|AAAAAAAAB", 1},
      {longest + "x", EXACT, INVALID, "", 1}, {"dir/", EXACT, INVALID, "", 1},
      {"data", EXACT, AMBIGUOUS, "", 1}, {"x/.bin", EXACT, INVALID, "", 1},
      {"x/ab.", EXACT, INVALID, "", 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Context ctx{};
    ASSERT_EQ(c.whole == NAME ? parse_name81(c.text.c_str(), "-x", c.wildcards, ctx.name)
                              : parse_host_path(ctx, ctx.source_path, c.text.c_str(), "-x",
                                    c.wildcards, static_cast<PathKept>(c.whole), DERIVE_NAME),
        c.code);
    std::string slot = HOST_IS_WINDOWS && c.windows != nullptr ? c.windows : c.slot;
    if (slot.rfind("./", 0) == 0) slot.replace(0, 2, CURRENT_DIR_PREFIX);
    const std::string filled = std::string(ctx.source_path.data()) + '|' + ctx.name.display.data() +
                               '|' + ctx.name.padded.data();
    EXPECT_EQ(c.code == 0 ? filled : slot, slot);
  }
}

// `entry`: the stored name and type.
TEST(EntryMatches, Decides) {
  const struct {
    const char* pattern;
    Wildcards mask;
    const char* entry;
    bool matches;
  } cases[] = {{"game.b", EXACT, "GAME    C", false}, {"GAME.B", EXACT, "game    B", true},
      {"a.b", EXACT, "A       b", false}, {"a?cdefg", MASK, "ABCDEFGHB", false},
      {"ab", MASK, "AB      z", true}, {"a*", MASK, "alpha   B", true},
      {"g?me", MASK, "GAME    B", true}, {"*.*", MASK, "GAME    B", false},
      {"*.*", MASK, "A       *", true}, {"*", MASK, " GAME   B", false},
      {"*", MASK, "A       \x7F", false}};
  for (const auto& c : cases) {
    Context ctx{};
    DirEntry entry{static_cast<std::uint8_t>(c.entry[8]), {}, {}, {}, {}, 0, {}};
    std::memcpy(entry.name.data(), c.entry, entry.name.size());
    ASSERT_EQ(set_main_name(ctx, c.pattern, "-x", c.mask), 0);
    EXPECT_EQ(entry_matches(ctx, entry, c.mask == MASK ? MATCH_MASK : MATCH_EXACT), c.matches)
        << c.pattern << " " << c.entry;
  }
}

// Name and long name are given unpadded and stored padded with spaces.
DirEntry entry_of(const std::string& name, const std::string& long_name = "", int start = 0,
    int attributes = 0, char type = 'B') {
  DirEntry entry{
      static_cast<std::uint8_t>(type), {}, {}, {}, {}, static_cast<std::uint8_t>(attributes), {}};
  (name + std::string(8, ' ')).copy(reinterpret_cast<char*>(entry.name.data()), 8);
  (long_name + std::string(16, ' ')).copy(reinterpret_cast<char*>(entry.long_name.data()), 16);
  set_u16(entry.start_address, start);
  return entry;
}
std::string bytes(const DirEntry& entry) {
  return {reinterpret_cast<const char*>(&entry), sizeof entry};
}

// PARSE: text to entry (left zeroed when refused); BUILD: entry to complex
// name; BOTH; DISPLAY: entry to display name.
enum Way { PARSE = 1, BUILD = 2, BOTH = 3, DISPLAY = 4 };
TEST(ComplexName, ReadsWritesOrRefuses) {
  const struct {
    const char* text;
    int code;
    DirEntry entry = {};
    int way = PARSE;
  } cases[] = {{"GAME___.B", 0, entry_of("GAME")},
      {"GAME__0x8000_010.B", 0, entry_of("GAME", "", 32768, 8)},
      {"c:\\dir\\GAME__0_0.B", 0, entry_of("GAME")},
      {"a#5fb_x#20y_0_0.#2a", 0, entry_of("a_b", "x y", 0, 0, '*')},
      {"AB#00CD_L#00M_0_0.B", 0, entry_of("AB", "L")},
      {"GAME_My#20Game_32768_1.B", 0, entry_of("GAME", "My Game", 32768, 1), BOTH},
      {"GAME.B", 0, entry_of("GAME", "My Game", 32768, 1), DISPLAY},
      {"AB#23C#20DE#5F_x#5Fy#23z#20w.BCDEFGHI_4660_3.#23", 0,
          entry_of("AB#C DE_", "x_y#z w.BCDEFGHI", 4660, 3, '#'), BOTH},
      {"#22#2A#2F#3A#3C#3E#3F#5C_#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C#7C_65535_255.#5F", 0,
          entry_of("\"*/:<>?\\", "||||||||||||||||", 65535, 255, '_'), BOTH},
      {"GAME__0_0.B", 0, entry_of("GAME", " lead"), BUILD},
      {"A\x01\t\x7F\xE9__0_0.B", 0, entry_of("A\x01\t\x7F\xE9"), BUILD},
      {"GAME__0_-1.B", ERR_INVALID_COMPLEX_NAME},
      {"GAME_ABCDEFGHIJKLMNOPQ_0_0.B", ERR_INVALID_COMPLEX_NAME},
      {"GAME__0_256.B", ERR_INVALID_COMPLEX_NAME}, {"GAMEFGHIJ__0_0.B", ERR_INVALID_COMPLEX_NAME},
      {"GAME__65536_0.B", ERR_INVALID_COMPLEX_NAME}, {"#00AME__0_0.B", ERR_INVALID_COMPLEX_NAME},
      {"GAME__0_0.BC", ERR_INVALID_COMPLEX_NAME}, {"#G1AME__0_0.B", ERR_INVALID_COMPLEX_NAME},
      {"GAME_0_0.B", ERR_INVALID_COMPLEX_NAME}, {"GAME#4__0_0.B", ERR_INVALID_COMPLEX_NAME},
      {"GAME__0_0.#20", ERR_INVALID_COMPLEX_NAME}, {"GAME__-1_0.B", ERR_INVALID_COMPLEX_NAME}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    if (c.way & PARSE) {
      DirEntry entry{'J', {}, {1, 2}, {3, 4}, {5, 6}, 7, {}};  // stale contents, all replaced
      EXPECT_EQ(parse_complex_name(entry, c.text), c.code);
      EXPECT_EQ(bytes(entry), bytes(c.entry));
    }
    if (c.way == PARSE) continue;
    char text[256];
    build_file_name(c.entry, text, c.way & BUILD ? COMPLEX_FORM : DISPLAY_FORM, NameRules::posix);
    EXPECT_STREQ(text, c.text);
    EXPECT_LT(std::strlen(text), c.way == DISPLAY ? DISPLAY_NAME_SIZE : COMPLEX_NAME_SIZE);
  }
  std::string text = " \t a b \r\n\v\f", blank = " \t ", one = " x";
  EXPECT_EQ(trim(text.data()), text.data());
  EXPECT_STREQ(text.c_str(), "a b");
  EXPECT_STREQ(trim(blank.data()), "");
  EXPECT_STREQ(trim(one.data()), "x");
}

// Host names of extracted files: what each host's rules escape, and what
// they keep; complex names on Windows escape control and high bytes and a
// final point, and read back.
TEST(HostName, EscapesWhatTheHostCannotHold) {
  const struct {
    DirEntry entry;
    const char *posix, *windows;
  } cases[] = {{entry_of("A/B"), "A#2FB.B", "A#2FB.B"},
      {entry_of("..\\..\\XY"), "..\\..\\XY.B", "..#5C..#5CXY.B"},
      {entry_of("<>:\"|?*\\"), "<>:\"|?*\\.B", "#3C#3E#3A#22#7C#3F#2A#5C.B"},
      {entry_of("A\x01"
                "B",
           "", 0, 0, '\n'),
          "A#01B.#0A", "A#01B.#0A"},
      {entry_of("A\xE9"), "A\xE9.B", "A#E9.B"}, {entry_of("con", "", 0, 0, ' '), "con", "#63on"},
      {entry_of("COM1.X"), "COM1.X.B", "#43OM1.X.B"}, {entry_of("NULL"), "NULL.B", "NULL.B"},
      {entry_of("AB", "", 0, 0, '.'), "AB..", "AB.#2E"}};
  char text[COMPLEX_NAME_SIZE];
  for (const auto& c : cases) {
    build_plain_host_name(c.entry, text, NameRules::posix);
    EXPECT_STREQ(text, c.posix);
    build_plain_host_name(c.entry, text, NameRules::windows);
    EXPECT_STREQ(text, c.windows);
  }
  const DirEntry entry = entry_of("A\x01\xE9", "x\x7F", 0, 0, '.');
  build_file_name(entry, text, COMPLEX_FORM, NameRules::windows);
  EXPECT_STREQ(text, "A#01#E9_x#7F_0_0.#2E");
  DirEntry parsed{};
  ASSERT_EQ(parse_complex_name(parsed, text), 0);
  EXPECT_EQ(bytes(parsed), bytes(entry));
}

}  // namespace

#include <gtest/gtest.h>

#include <cstring>

#include "cli/errors.h"
#include "names/name81.h"

constexpr Wildcards MASK = WILDCARDS_ALLOWED, EXACT = NO_WILDCARDS;
constexpr int NAME = -1, INVALID = ERR_INVALID_NAME, AMBIGUOUS = ERR_AMBIGUOUS_NAME;
const auto case_name = [](const auto& info) { return std::string(info.param.id); };

// `text` is an option's name (`whole` NAME) or a host path (`whole`: the stored path keeps the file
// part). `slot` is the stored path, the display form and the padded form, joined by '|'.
struct NameCase {
  const char *id, *text;
  Wildcards wildcards;
  int code;
  std::string slot = "";
  int whole = NAME;
  const char* windows_slot = nullptr;  // replaces `slot` on Windows
};
void PrintTo(const NameCase& c, std::ostream* out) {
  *out << c.id;
}  // names, not bytes, in listings
class ParseName : public ::testing::TestWithParam<NameCase> {};

TEST_P(ParseName, FillsSlotOrRefuses) {
  const NameCase& c = GetParam();
  Context ctx{};
  ASSERT_EQ(c.whole == NAME ? parse_name81(c.text, "-x", c.wildcards, ctx.name)
                            : parse_host_path(ctx, ctx.source_path, c.text, "-x", c.wildcards,
                                  static_cast<PathKept>(c.whole), DERIVE_NAME),
      c.code);
  if (c.code != 0) return;
  // "./" in `slot` stands for the host's current-directory prefix.
  std::string slot = HOST_IS_WINDOWS && c.windows_slot != nullptr ? c.windows_slot : c.slot;
  if (slot.rfind("./", 0) == 0) slot.replace(0, 2, CURRENT_DIR_PREFIX);
  EXPECT_EQ(std::string(ctx.source_path.data()) + '|' + ctx.name.display.data() + '|' +
                ctx.name.padded.data(),
      slot);
}

const std::string LONGEST = "d/" + std::string(249, 'a') + ".bin",
                  TOO_LONG = LONGEST + "x";  // 255, 256 characters
const NameCase NAME_CASES[] = {{"ExactName", "~eta.~", EXACT, 0, "|~ETA.~|~ETA    ~"},
    {"StarAsLiteralType", "ab.*", EXACT, 0, "|AB.*|AB      *"},
    {"InnerSpaces", "my file.t", EXACT, 0, "|MY FILE.T|MY FILE T"},
    {"PointAsType", "a..", EXACT, 0, "|A..|A       ."},
    {"StarFillsRestOfName", "a*c.b", MASK, 0, "|A???????.B|A???????B"},
    {"EmptyMask", "", MASK, 0, "||         "}, {"SecondPoint", "a.b.c", MASK, INVALID},
    {"LeadingPoint", ".b", MASK, INVALID}, {"TrailingPoint", "ab.", MASK, INVALID},
    {"NineCharacters", "abcdefghi", MASK, INVALID},
    {"NineCharactersWithType", "abcdefghi.b", MASK, INVALID},
    {"ExactWithoutType", "game", EXACT, AMBIGUOUS},
    {"ExactWithQuestion", "g?me.b", EXACT, AMBIGUOUS}, {"ExactWithStar", "ga*.b", EXACT, AMBIGUOUS},
    {"ExactStartingWithSpace", " x.b", EXACT, INVALID},
    {"ExactWithSpaceType", "ab. ", EXACT, INVALID},
    {"PathNameCutTypeFromFirstPoint", "longfilename.x.txt", EXACT, 0,
        "./longfilename.x.txt|LONGFILE.X|LONGFILEX", 1},
    {"PathSplitsAtLastSlash", "a/b\\c.bin", EXACT, 0, "a/b\\c.bin|B\\C.B|B\\C     B", 1,
        "a/b\\c.bin|C.B|C       B"},
    {"PathMaskCutDirectoryOnly", "out\\abcdefghij", MASK, 0, "out\\|ABCDEFGH|ABCDEFGH ", 0},
    {"PathMaskWithoutDirectory", "g*", MASK, 0, "./|G???????|G??????? ", 0},
    {"LongestPath", LONGEST.c_str(), EXACT, 0, LONGEST + "|AAAAAAAA.B|AAAAAAAAB", 1},
    {"PathBeyondField", TOO_LONG.c_str(), EXACT, INVALID, "", 1},
    {"PathEndsInSlash", "dir/", EXACT, INVALID, "", 1},
    {"PathWithoutType", "data", EXACT, AMBIGUOUS, "", 1},
    {"PathFileStartsWithPoint", "x/.bin", EXACT, INVALID, "", 1},
    {"PathFileEndsWithPoint", "x/ab.", EXACT, INVALID, "", 1}};
INSTANTIATE_TEST_SUITE_P(Names, ParseName, ::testing::ValuesIn(NAME_CASES), case_name);

struct MatchCase {
  const char *id, *pattern;
  Wildcards mask;
  const char* entry;
  bool matches;
};  // entry: name, type
void PrintTo(const MatchCase& c, std::ostream* out) { *out << c.id; }
class EntryMatches : public ::testing::TestWithParam<MatchCase> {};

TEST_P(EntryMatches, Decides) {
  const MatchCase& c = GetParam();
  Context ctx{};
  DirEntry entry{static_cast<std::uint8_t>(c.entry[8]), {}, {}, {}, {}, 0, {}};
  std::memcpy(entry.name.data(), c.entry, entry.name.size());
  ASSERT_EQ(set_main_name(ctx, c.pattern, "-x", c.mask), 0);
  EXPECT_EQ(entry_matches(ctx, entry, c.mask == MASK ? MATCH_MASK : MATCH_EXACT), c.matches);
}

const MatchCase MATCH_CASES[] = {{"OtherType", "game.b", EXACT, "GAME    C", false},
    {"LowerCaseEntryName", "GAME.B", EXACT, "game    B", true},
    {"LowerCaseType", "a.b", EXACT, "A       b", false},
    {"MaskIsNoPrefix", "a?cdefg", MASK, "ABCDEFGHB", false},
    {"MaskWithoutTypeTakesAny", "ab", MASK, "AB      z", true},
    {"StarMatchesPrefix", "a*", MASK, "alpha   B", true},
    {"QuestionTakesAny", "g?me", MASK, "GAME    B", true},
    {"StarStarNeedsStarType", "*.*", MASK, "GAME    B", false},
    {"StarStarOnStar", "*.*", MASK, "A       *", true},
    {"SpaceFirstIsUnused", "*", MASK, " GAME   B", false},
    {"DelTypeIsUnused", "*", MASK, "A       \x7F", false}};
INSTANTIATE_TEST_SUITE_P(Entries, EntryMatches, ::testing::ValuesIn(MATCH_CASES), case_name);

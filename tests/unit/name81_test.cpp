#include <gtest/gtest.h>

#include <cstring>

#include "cli/errors.h"
#include "names/name81.h"

constexpr int MASK = 1, EXACT = 0, INVALID = ERR_INVALID_NAME, AMBIGUOUS = ERR_AMBIGUOUS_NAME;
const auto case_name = [](const auto& info) { return std::string(info.param.id); };

// `slot` is the expected display form and padded form, joined by '|'.
struct NameCase { const char *id, *text; int wildcards, code; const char* slot = ""; };
class ParseName81 : public ::testing::TestWithParam<NameCase> {};

TEST_P(ParseName81, FillsSlot) {
  NameSlot slot{};
  ASSERT_EQ(parse_name81(GetParam().text, "-x", GetParam().wildcards, slot), GetParam().code);
  if (GetParam().code != 0) return;
  EXPECT_EQ(std::string(slot.display.data()) + '|' + slot.padded.data(), GetParam().slot);
}

const NameCase NAME_CASES[] = {
    {"ExactName", "game.b", EXACT, 0, "GAME.B|GAME    B"}, {"StarAlone", "*", MASK, 0, "????????|???????? "},
    {"StarFillsRestOfName", "a*c", MASK, 0, "A???????|A??????? "}, {"EmptyMask", "", MASK, 0, "|         "},
    {"StarWithType", "*.b", MASK, 0, "????????.B|????????B"}, {"PointAsType", "a..", EXACT, 0, "A..|A       ."},
    {"StarAsLiteralType", "ab.*", EXACT, 0, "AB.*|AB      *"},
    {"InnerSpaces", "my file.t", EXACT, 0, "MY FILE.T|MY FILE T"},
    {"SecondPoint", "a.b.c", MASK, INVALID}, {"TwoTypeCharacters", "ab.cd", MASK, INVALID},
    {"LeadingPoint", ".b", MASK, INVALID}, {"TrailingPoint", "ab.", MASK, INVALID},
    {"NineCharacters", "abcdefghi", MASK, INVALID}, {"ExactWithoutType", "game", EXACT, AMBIGUOUS},
    {"ExactWithQuestion", "g?me.b", EXACT, AMBIGUOUS}, {"ExactWithStar", "ga*.b", EXACT, AMBIGUOUS},
    {"ExactStartingWithSpace", " x.b", EXACT, INVALID}, {"ExactWithSpaceType", "ab. ", EXACT, INVALID}};
INSTANTIATE_TEST_SUITE_P(Names, ParseName81, ::testing::ValuesIn(NAME_CASES), case_name);

// `result` is the stored path and the display form of the derived name, joined by '|'.
struct PathCase { const char *id, *text; int wildcards, whole, code; const char* result = ""; };
class ParseHostPath : public ::testing::TestWithParam<PathCase> {};

TEST_P(ParseHostPath, StoresPathAndDerivesName) {
  const PathCase& c = GetParam();
  Context ctx{};
  ASSERT_EQ(parse_host_path(ctx, ctx.source_path, c.text, "-x", c.wildcards, c.whole, 1), c.code);
  if (c.code != 0) return;
  EXPECT_EQ(std::string(ctx.source_path.data()) + '|' + ctx.name.display.data(), c.result);
}

const std::string LONGEST_PATH = "d/" + std::string(249, 'a') + ".bin", TOO_LONG_PATH = LONGEST_PATH + "x",
                  LONGEST_RESULT = LONGEST_PATH + "|AAAAAAAA.B";
const PathCase PATH_CASES[] = {
    {"LongNameCut", "dir/longfilename.bin", EXACT, 1, 0, "dir/longfilename.bin|LONGFILE.B"},
    {"TypeFromFirstPoint", "my.file.txt", EXACT, 1, 0, "./my.file.txt|MY.F"},
    {"SplitsAtLastSlash", "a/b\\c.bin", EXACT, 1, 0, "a/b\\c.bin|B\\C.B"},
    {"DirectoryOnlyForMask", "out\\*.b", MASK, 0, 0, "out\\|????????.B"},
    {"DirectoryOnlyWithoutDirectory", "g*", MASK, 0, 0, "./|G???????"},
    {"LongMaskTakesEveryType", "x/abcdefghij", MASK, 0, 0, "x/|ABCDEFGH"},
    {"LongestPath", LONGEST_PATH.c_str(), EXACT, 1, 0, LONGEST_RESULT.c_str()},
    {"PathBeyondField", TOO_LONG_PATH.c_str(), EXACT, 1, INVALID}, {"NoExtension", "data", EXACT, 1, AMBIGUOUS},
    {"EndsInSlash", "dir/", EXACT, 1, INVALID}, {"EndsInBackslash", "dir\\", MASK, 0, INVALID},
    {"FileStartsWithPoint", "x/.bin", EXACT, 1, INVALID}, {"FileEndsWithPoint", "x/ab.", EXACT, 1, INVALID}};
INSTANTIATE_TEST_SUITE_P(Paths, ParseHostPath, ::testing::ValuesIn(PATH_CASES), case_name);

// `entry` is the stored name followed by the type byte.
struct MatchCase { const char *id, *pattern; int mask; const char* entry; bool matches; };
class EntryMatches : public ::testing::TestWithParam<MatchCase> {};

TEST_P(EntryMatches, Decides) {
  Context ctx{};
  ASSERT_EQ(set_main_name(ctx, GetParam().pattern, "-x", GetParam().mask), 0);
  DirEntry entry{};
  entry.type = static_cast<std::uint8_t>(GetParam().entry[8]);
  std::memcpy(entry.name.data(), GetParam().entry, entry.name.size());
  EXPECT_EQ(entry_matches(ctx, entry, GetParam().mask), GetParam().matches);
}

const MatchCase MATCH_CASES[] = {
    {"ExactSameName", "game.b", EXACT, "GAME    B", true}, {"OtherType", "game.b", EXACT, "GAME    C", false},
    {"LowerCaseEntryName", "GAME.B", EXACT, "game    B", true}, {"LowerCaseType", "a.b", EXACT, "A       b", false},
    {"ExactIsNoPrefix", "ab.b", EXACT, "ABC     B", false}, {"PlainMaskIsNoPrefix", "ab", MASK, "ABC     B", false},
    {"MaskWithoutTypeTakesAny", "ab", MASK, "AB      z", true}, {"StarNeedsPrefix", "a*", MASK, "BETA    B", false},
    {"StarMatchesPrefix", "a*", MASK, "alpha   B", true}, {"QuestionTakesAny", "g?me", MASK, "GAME    B", true},
    {"StarStarNeedsStarType", "*.*", MASK, "GAME    B", false}, {"StarStarOnStar", "*.*", MASK, "A       *", true},
    {"EmptyMaskMatchesNone", "", MASK, "GAME    B", false}, {"FreeSlot", "*", MASK, "\xE5\xE5      \xE5", false},
    {"SpaceFirstIsUnused", "*", MASK, " GAME   B", false}, {"DelTypeIsUnused", "*", MASK, "A       \x7F", false}};
INSTANTIATE_TEST_SUITE_P(Entries, EntryMatches, ::testing::ValuesIn(MATCH_CASES), case_name);

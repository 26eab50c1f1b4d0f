#include <gtest/gtest.h>

#include "cli/numbers.h"

struct NumberCase {
  const char *id, *text;
  int expected;
};
void PrintTo(const NumberCase& c, std::ostream* out) { *out << c.id; }
class ParseNumber : public ::testing::TestWithParam<NumberCase> {};

TEST_P(ParseNumber, Reads) { EXPECT_EQ(parse_number(GetParam().text), GetParam().expected); }

const NumberCase CASES[] = {{"Decimal", "512", 512}, {"Hexadecimal", "0x200", 512},
    {"UpperHexPrefix", "0X1f", 31}, {"Octal", "01000", 512}, {"TextAfterValue", "12abc", 12},
    {"NoDigits", "abc", -1}, {"Empty", "", 0}, {"BlanksOnly", "  ", -1}, {"Negative", "-5", -1},
    {"HexPrefixOnly", "0x", -1}, {"NonOctalDigitAfterZero", "08", -1}, {"PlusSign", "+7", 7},
    {"LeadingBlanks", "  42", 42}, {"JustBeyondIntMax", "2147483648", 2147483647},
    {"Saturates", "99999999999999999999", 2147483647},
    {"NegativeSaturated", "-99999999999999999999", -1}};
INSTANTIATE_TEST_SUITE_P(
    All, ParseNumber, ::testing::ValuesIn(CASES), [](auto& i) { return std::string(i.param.id); });

#include "cli/numbers.h"

#include <climits>
#include <cstdint>

namespace {

int digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

}  // namespace

bool is_white_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int parse_number(const char* text) {
  const char* p = text;
  while (is_white_space(*p)) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  int base = 10;
  if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && digit_value(p[2]) < 16) {
    base = 16;
    p += 2;
  } else if (p[0] == '0') {
    base = 8;
  }
  const char* digits = p;
  std::int64_t value = 0;
  bool overflow = false;
  for (; digit_value(*p) < base; ++p) {
    value = value * base + digit_value(*p);
    if (value > INT64_C(1) << 32) {  // saturate; keeps the arithmetic in range
      overflow = true;
      value = INT64_C(1) << 32;
    }
  }
  // No digits at all: nothing was converted, the whole text is left over.
  const char* rest = p == digits ? text : p;
  if (negative) value = -value;
  if (overflow || value > INT_MAX) value = negative ? INT_MIN : INT_MAX;
  if (value < INT_MIN) value = INT_MIN;
  if (value < 0) return -1;
  if (value == 0 && *rest != '\0') return -1;
  return static_cast<int>(value);
}

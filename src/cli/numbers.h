// The one reader of numeric values and the white-space rule it shares with
// the name and list parsers.
#pragma once

// Decimal, 0-prefixed octal or 0x hex, after leading white space. -1 for a
// negative value and for text that yields 0 with characters left.
int parse_number(const char* text);

// Blank, tab, line feed, vertical tab, form feed, carriage return.
bool is_white_space(char c);

// Error codes and the one reporter through which every failure is printed.
#pragma once

constexpr int SHOW_USAGE = -1;
constexpr int ERR_OUT_OF_MEMORY = -2;
constexpr int ERR_UNKNOWN_OPTION = -3;
constexpr int ERR_BAD_COMBINATION = -4;
constexpr int ERR_MISSING_VALUE = -5;
constexpr int ERR_OPEN_READ = -6;
constexpr int ERR_ACCESS_READ = -7;
constexpr int ERR_FILE_LENGTH = -8;
constexpr int ERR_SOURCE_TOO_LONG = -9;
constexpr int ERR_READ_BEYOND_END = -10;
constexpr int ERR_READ = -11;
constexpr int ERR_OPEN_WRITE = -12;
constexpr int ERR_ACCESS_WRITE = -13;
constexpr int ERR_WRITE = -14;
constexpr int ERR_VALUE_RANGE = -15;
constexpr int ERR_BAD_VALUE = -16;
constexpr int ERR_LONG_NAME = -17;
constexpr int ERR_TWO_SOURCES = -18;
constexpr int ERR_NO_OUTPUT = -19;
constexpr int ERR_TWO_BOOT_FILES = -20;
constexpr int ERR_INVALID_BOOT = -21;
constexpr int ERR_INVALID_NAME = -22;
constexpr int ERR_AMBIGUOUS_NAME = -23;
constexpr int ERR_FILE_EXISTS = -24;
constexpr int ERR_FILE_NOT_FOUND = -25;
constexpr int ERR_DIRECTORY_FULL = -26;
constexpr int ERR_DISK_FULL = -27;
constexpr int ERR_GEOMETRY_TOO_SMALL = -28;
constexpr int ERR_INVALID_COMPLEX_NAME = -29;
constexpr int ERR_INVALID_LOADER = -30;
// -iv: the image check found only warnings, or errors.
constexpr int ERR_IMAGE_WARNINGS = -31;
constexpr int ERR_IMAGE_ERRORS = -32;
constexpr int ERR_JOURNAL_NEEDS_WRITE = -33;
constexpr int ERR_JOURNAL_REFUSED = -34;

// Prints the message of `code` with its arguments on standard error, then a
// blank line, and returns `code`. Arguments a message does not use are ignored.
int report_error(int code, const char* first = nullptr, const char* second = nullptr);
// For the messages whose second value is a number (-9, -15).
int report_error(int code, const char* first, int number);

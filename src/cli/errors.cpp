#include "cli/errors.h"

#include <array>
#include <cstdio>
#include <string>

namespace {

struct ErrorMessage {
  int code;
  const char* format;
};

// Texts are the tool's own output, typos included: scripts match on them.
constexpr std::array<ErrorMessage, 33> ERROR_MESSAGES = {{
    {ERR_OUT_OF_MEMORY, "Out of memory!"},
    {ERR_UNKNOWN_OPTION, "Unknown option: %s"},
    {ERR_BAD_COMBINATION, "Bad combination of options: %s %s"},
    {ERR_MISSING_VALUE, "Missing option value(s) '%s'!"},
    {ERR_OPEN_READ, "Can't open file '%s' for reading!"},
    {ERR_ACCESS_READ, "Can't access file '%s' for reading!"},
    {ERR_FILE_LENGTH, "Can't retrieve length of the file '%s'!"},
    {ERR_SOURCE_TOO_LONG, "Source file '%s' is too long! Max length %d bytes."},
    {ERR_READ_BEYOND_END, "Read beyond end of the file '%s'."},
    {ERR_READ, "Can't read from the file '%s'!"},
    {ERR_OPEN_WRITE, "Can't open file '%s' for writing!"},
    {ERR_ACCESS_WRITE, "Can't access output file '%s' for writing!"},
    {ERR_WRITE, "Can't write to the file '%s'!"},
    {ERR_VALUE_RANGE, "Value %d is out of range <0, 65535>: %s"},
    {ERR_BAD_VALUE, "Bad option value: %s %s"},
    {ERR_LONG_NAME, "Long name can have up to 16 chars!"},
    {ERR_TWO_SOURCES, "Only one source file can be specified! '%s' or '%s'?"},
    {ERR_NO_OUTPUT, "Output file not specified!"},
    {ERR_TWO_BOOT_FILES, "Only one BOOT file can be specified! '%s' or '%s'?"},
    {ERR_INVALID_BOOT, "Invalid BOOT binary file! '%s'"},
    {ERR_INVALID_NAME, "Invalid file name/mask '%s' in option `%s`"},
    {ERR_AMBIGUOUS_NAME, "File name '%s' in option `%s` must be unambiguous!"},
    {ERR_FILE_EXISTS, "File '%s' alreday exist!"},
    {ERR_FILE_NOT_FOUND, "File '%s' not exist!"},
    {ERR_DIRECTORY_FULL, "Directory full!"},
    {ERR_DISK_FULL, "Disk full!"},
    {ERR_GEOMETRY_TOO_SMALL,
        "Current VEM content do not fit into new VEM geometry (size/directory/boot)!"},
    {ERR_INVALID_COMPLEX_NAME, "Invalid complex file name '%s'"},
    {ERR_INVALID_LOADER, "File '%s' is not valid standard Loader file!"},
    {ERR_IMAGE_WARNINGS, "Warnings found in VEM image '%s'."},
    {ERR_IMAGE_ERRORS, "Errors found in VEM image '%s'!"},
    {ERR_JOURNAL_NEEDS_WRITE,
        "Can't roll back the unfinished change of '%s' without write access to it!"},
    {ERR_JOURNAL_REFUSED,
        "Can't use the journal '%s' for '%s'! Remove it if the image is as it should be."},
}};

constexpr const char* INVALID_BOOT_IN_IMAGE = "Invalid BOOT in VEM image!";

// Substitutes %s with the texts in order and %d with the number; the formats
// are ours, but the arguments are user text and never act as a format.
std::string expand(const char* format, const char* first, const char* second, int number) {
  std::string out;
  const char* texts[2] = {first, second};
  int next_text = 0;
  for (const char* p = format; *p != '\0'; ++p) {
    if (p[0] == '%' && p[1] == 's') {
      const char* text = next_text < 2 ? texts[next_text++] : nullptr;
      out += text != nullptr ? text : "";
      ++p;
    } else if (p[0] == '%' && p[1] == 'd') {
      out += std::to_string(number);
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

const char* error_format(int code) {
  for (const ErrorMessage& message : ERROR_MESSAGES) {
    if (message.code == code) return message.format;
  }
  return "";
}

int print_error(int code, const char* first, const char* second, int number) {
  const char* format = error_format(code);
  if (code == ERR_INVALID_BOOT && first == nullptr) format = INVALID_BOOT_IN_IMAGE;
  std::string text = expand(format, first, second, number);
  text += "\n\n";
  std::fflush(stdout);  // keep the two streams in order on a shared terminal
  std::fputs(text.c_str(), stderr);
  return code;
}

}  // namespace

int report_error(int code, const char* first, const char* second) {
  return print_error(code, first, second, 0);
}

int report_error(int code, const char* first, int number) {
  return print_error(code, first, nullptr, number);
}

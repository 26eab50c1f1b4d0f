// parse_complex_name on arbitrary text, and the build-then-parse guarantee:
// a built complex name parses back to the entry's name and long name
// (trimmed, padded), start address, attributes and type.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "image/image_format.h"
#include "names/complex_name.h"

namespace {

bool name_char(std::uint8_t c) { return c >= 0x21 && c <= 0x7E; }

// What survives a round trip: the text up to a NUL, trimmed at both ends,
// padded with spaces; `cut_at_point` also drops a name's part from a point on.
template <std::size_t N>
std::array<std::uint8_t, N> survivor(const std::array<std::uint8_t, N>& field, bool cut_at_point) {
  std::array<char, N + 1> text{};
  std::memcpy(text.data(), field.data(), N);
  trim(text.data());
  if (cut_at_point) {
    char* point = std::strchr(text.data(), '.');
    if (point != nullptr) *point = '\0';
  }
  std::array<std::uint8_t, N> padded{};
  padded.fill(' ');
  std::memcpy(padded.data(), text.data(), std::strlen(text.data()));
  return padded;
}

void check_round_trip(const DirEntry& entry) {
  // A used slot; a name that starts with a point keeps nothing to parse.
  if (!name_char(entry.type) || !name_char(entry.name[0]) || entry.name[0] == '.') return;
  std::array<char, COMPLEX_NAME_SIZE> built{};
  built.fill('\x7F');
  build_file_name(entry, built.data(), 1);
  require(std::memchr(built.data(), '\0', built.size()) != nullptr, "a built name is not terminated");
  DirEntry parsed{};
  require(parse_complex_name(parsed, built.data()) == 0, "a built name does not parse");
  require(parsed.type == entry.type, "the type changed in a round trip");
  require(parsed.name == survivor(entry.name, true), "the name changed in a round trip");
  std::array<std::uint8_t, 16> long_name = survivor(entry.long_name, false);
  if (entry.long_name[0] == ' ') long_name.fill(' ');
  require(parsed.long_name == long_name, "the long name changed in a round trip");
  require(parsed.start_address == entry.start_address, "the start address changed in a round trip");
  require(parsed.attributes == entry.attributes, "the attributes changed in a round trip");
  require(get_u16(parsed.first_sector) == 0 && get_u16(parsed.length) == 0, "a parsed name set placement");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  // Invalid names are reported on stderr; stdout stays silent.
  enter_scratch(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size >= sizeof(DirEntry)) {
    DirEntry entry{};
    std::memcpy(&entry, data, sizeof entry);
    check_round_trip(entry);
  }
  const std::string text(reinterpret_cast<const char*>(data), size);
  DirEntry parsed{};
  if (parse_complex_name(parsed, text.c_str()) == 0) {
    require(name_char(parsed.type), "a parsed type is no name character");
    check_round_trip(parsed);
  }
  return 0;
}

// Arbitrary bytes as a -fl list over a small image and a few host files. Each
// line is its own commit, so the image must stay packed whatever happens.
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"

namespace {

constexpr const char* IMAGE = "img.vem";
constexpr const char* LIST = "list.txt";

struct HostFile {
  const char* name;
  std::size_t size;
};

// Complex names, a plain name, and files of 0, 1 sector, 2 sectors.
constexpr HostFile HOST_FILES[] = {
    {"GAME_My#20Game_32768_1.B", 200},
    {"EMPTY___.X", 0},
    {"SECTOR_Long#5Fname#23_0x8000_3.D", 128},
    {"plain.bin", 10},
};

Bytes base_image;

void make_base_image() {
  clean_scratch();
  const Bytes data(300, 0x5A);
  write_file("base.bin", data.data(), data.size());
  require(run_tool({IMAGE, "-ic", "-is", "32", "-id", "8"}) == 0, "cannot create the base image");
  require(run_tool({IMAGE, "-fa", "base.bin", "-ln", "Base file", "-sa", "0x100"}) == 0,
          "cannot fill the base image");
  base_image = read_file(IMAGE);
  clean_scratch();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  if (enter_scratch(*argc, *argv)) make_base_image();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  clean_scratch();
  write_file(IMAGE, base_image.data(), base_image.size());
  for (const HostFile& host : HOST_FILES) {
    const Bytes bytes(host.size, static_cast<std::uint8_t>(host.size));
    write_file(host.name, bytes.data(), bytes.size());
  }
  write_file(LIST, data, size);
  run_tool({IMAGE, "-fl", LIST});
  check_packed_image(IMAGE);
  clean_scratch();
  return 0;
}

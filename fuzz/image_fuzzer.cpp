// Arbitrary bytes as an image, through every command that reads an image and
// every command that writes one. A written image must open again and be
// packed; a failed command must leave the image as it was.
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "image/image_format.h"

namespace {

constexpr const char* IMAGE = "img.vem";
constexpr const char* HOST_FILE = "host.bin";
// Writing commands fill the whole image; larger claimed geometries only slow
// the run without reaching other code (the limits suite covers 8192 kB).
constexpr int WRITE_LAST_SECTOR_LIMIT = 2047;

enum class Check { none, unchanged_on_failure, packed, one_slot };

struct CommandCase {
  std::vector<std::string> args;  // "@" stands for the first stored name
  bool writes;
  Check check;
};

const std::vector<CommandCase>& command_cases() {
  static const std::vector<CommandCase> cases = {
      {{"-ii"}, false, Check::unchanged_on_failure},
      {{"-c"}, false, Check::unchanged_on_failure},
      {{"-c", "*.B"}, false, Check::unchanged_on_failure},
      {{"-c", "?A*"}, false, Check::unchanged_on_failure},
      {{"-fx", "out/*"}, false, Check::unchanged_on_failure},
      {{"-fx", "out/*", "-cfn"}, false, Check::unchanged_on_failure},
      {{"-fx", "out/*", "-cfn", "-cfnl", "out/list.txt"}, false, Check::unchanged_on_failure},
      {{"-fx", "out/@", "-cfnl", "list.txt"}, false, Check::unchanged_on_failure},
      {{"-li", "@"}, false, Check::unchanged_on_failure},
      {{"-fd", "*"}, true, Check::packed},
      {{"-fd", "@"}, true, Check::packed},
      {{"-fa", HOST_FILE}, true, Check::packed},
      {{"-fa", HOST_FILE, "-fn", "NEW.X", "-ln", "New file", "-sa", "0x4000", "-al", "-ar"}, true, Check::packed},
      {{"-fa", HOST_FILE, "-fn", "@", "-ow", "-psc"}, true, Check::packed},
      {{"-fr", "@", HOST_FILE}, true, Check::packed},
      {{"-fp", "@", "-fn", "RENAMED.Q", "-ln", "Renamed", "-sa", "1", "-al", "-ar"}, true, Check::one_slot},
      {{"-ml", "LOADER.L", "@", "@", "-mon", "2X"}, true, Check::packed},
      {{"-ir", "-is", "32", "-id", "4"}, true, Check::packed},
      {{"-ir", "-is", "64", "-id", "256"}, true, Check::packed},
  };
  return cases;
}

bool small_enough_to_write(const std::uint8_t* data, std::size_t size) {
  if (size < IMAGE_HEADER_SIZE) return true;
  return (data[HDR_LAST_SECTOR] | (data[HDR_LAST_SECTOR + 1] << 8)) <= WRITE_LAST_SECTOR_LIMIT;
}

// Only the 32 bytes of one directory slot may differ.
bool differs_in_one_slot(const Bytes& before, const Bytes& after) {
  if (before.size() != after.size()) return false;
  std::size_t first = before.size();
  std::size_t last = 0;
  for (std::size_t i = 0; i < before.size(); ++i) {
    if (before[i] == after[i]) continue;
    if (first == before.size()) first = i;
    last = i;
  }
  return first == before.size() || last - first < static_cast<std::size_t>(DIR_ENTRY_SIZE);
}

void run_case(const CommandCase& command, const Bytes& input, const std::string& stored_name) {
  clean_scratch();
  write_file(IMAGE, input.data(), input.size());
  static const std::uint8_t host_data[] = "host file data\n";
  write_file(HOST_FILE, host_data, sizeof host_data - 1);
  ::mkdir("out", 0700);
  std::vector<std::string> args = {IMAGE};
  for (const std::string& arg : command.args) {
    if (arg == "@") {
      args.push_back(stored_name);
    } else if (arg == "out/@") {
      args.push_back("out/" + stored_name);
    } else {
      args.push_back(arg);
    }
  }
  const int status = run_tool(args);
  if (status != 0) {
    if (command.check != Check::packed || command.args[0] != "-ir") {
      require(read_file(IMAGE) == input, "a failed command changed the image");
    }
    return;
  }
  // A command that found nothing to change leaves the bytes as given.
  if (command.check == Check::packed && read_file(IMAGE) != input) check_packed_image(IMAGE);
  if (command.check == Check::one_slot) {
    require(differs_in_one_slot(input, read_file(IMAGE)), "-fp changed more than one slot");
    require(run_tool({IMAGE, "-ii"}) == 0, "a changed image does not open again");
  }
  if (!command.writes) require(read_file(IMAGE) == input, "a reading command changed the image");
}

// -iv never writes; an image it calls clean passes the reading commands and
// an add; after -iv -fix the check finds no error, or the image is as it was.
void check_verdict(const Bytes& input, bool may_write) {
  clean_scratch();
  write_file(IMAGE, input.data(), input.size());
  const int status = run_tool({IMAGE, "-iv"});
  require(status == 0 || status == 31 || status == 32, "-iv ended with another status");
  require(read_file(IMAGE) == input, "-iv changed the image");
  if (status == 0 && may_write) {
    ::mkdir("out", 0700);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {IMAGE, "-ii"}, {IMAGE, "-c"}, {IMAGE, "-fx", "out/*", "-cfn"}}) {
      require(run_tool(args) == 0, "a reading command fails on an image -iv calls clean");
    }
    write_file(HOST_FILE, input.data(), input.size() % 300);
    const int added = run_tool({IMAGE, "-fa", HOST_FILE, "-ow"});
    require(added == 0 || added == 26 || added == 27, "an add fails on an image -iv calls clean");
    if (added == 0) check_packed_image(IMAGE);
  }
  if (!may_write) return;
  clean_scratch();
  write_file(IMAGE, input.data(), input.size());
  if (run_tool({IMAGE, "-iv", "-fix"}) != 0) {
    require(read_file(IMAGE) == input, "a repair that failed changed the image");
  } else {
    require(run_tool({IMAGE, "-iv"}) != 32, "-iv -fix left an error");
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  enter_scratch(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const Bytes input(data, data + size);
  std::string stored_name = first_used_name(input);
  if (stored_name.empty()) stored_name = "FILE.B";
  const bool may_write = small_enough_to_write(data, size);
  for (const CommandCase& command : command_cases()) {
    if (command.writes && !may_write) continue;
    run_case(command, input, stored_name);
  }
  check_verdict(input, may_write);
  clean_scratch();
  return 0;
}

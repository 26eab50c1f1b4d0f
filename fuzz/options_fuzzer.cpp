// Arbitrary argument vectors (NUL-separated in the input) through the option
// parser and its combination check. Nothing is opened or run.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/alloc.h"
#include "cli/context.h"
#include "cli/options.h"
#include "fuzz_support.h"

namespace {

constexpr std::size_t MAX_ARGUMENTS = 64;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  enter_scratch(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> storage = {VEMTOOL_DATA_DIR "/vemtool"};
  std::string current;
  for (std::size_t i = 0; i < size && storage.size() < MAX_ARGUMENTS; ++i) {
    if (data[i] == '\0') {
      storage.push_back(current);
      current.clear();
    } else {
      current.push_back(static_cast<char>(data[i]));
    }
  }
  if (storage.size() < MAX_ARGUMENTS) storage.push_back(current);
  // The entry point shows the usage text for two arguments or fewer.
  if (storage.size() <= 2) return 0;
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Context* ctx = nullptr;
  const int result = parse_options(static_cast<int>(storage.size()), argv.data(), ctx);
  require(ctx != nullptr || result != 0, "the parser gave no Context");
  require(result <= 0, "the parser returned a positive code");
  if (result == 0) {
    // A parse that passed has picked at most one command (none runs nothing).
    const int commands = ctx->cmd_ic + ctx->cmd_ir + ctx->cmd_ii + ctx->cmd_c + ctx->cmd_fa + ctx->cmd_fc +
                         ctx->cmd_fl + ctx->cmd_fr + ctx->cmd_fp + ctx->cmd_fd + ctx->cmd_fx + ctx->cmd_ml +
                         ctx->cmd_li;
    require(commands <= 1, "a passed parse names more than one command");
  }
  release(ctx);
  return 0;
}

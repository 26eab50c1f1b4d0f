#include <string>
#include <vector>

#include "cli/entry.h"
#include "image/platform.h"

int main(int argc, char** argv) {
  occupy_closed_standard_streams();
  const ConsoleOutputUtf8 utf8_output;  // until main returns, after the last output
  std::vector<std::string> arguments = host_arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  return run_vemtool(static_cast<int>(arguments.size()), pointers.data());
}

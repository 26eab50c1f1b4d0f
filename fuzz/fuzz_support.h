// Shared pieces of the in-process fuzz targets: a private scratch directory,
// runs of the whole tool, and a consistency check of image bytes that reads
// the layout itself instead of trusting the code under test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Once per process (from LLVMFuzzerInitialize): makes a scratch directory
// under /dev/shm or /tmp and enters it, sends standard output to /dev/null
// and puts standard input at EOF. False in the process that only starts the
// fuzzing job (-jobs), which stays where it is and runs nothing.
bool enter_scratch(int argc, char** argv);

// Removes everything inside the scratch directory and stops the process when
// anything appeared beside it or the working directory moved.
void clean_scratch();

// Runs the tool with `args` after the program name; returns its exit status.
int run_tool(const std::vector<std::string>& args);

void write_file(const char* name, const std::uint8_t* data, std::size_t size);
Bytes read_file(const char* name);

// Stops the process with `what` when `holds` is false.
void require(bool holds, const char* what);

// The image must open again (-ii succeeds) and its bytes must be packed:
// used slots first, free slots all 0xE5, files back to back after the
// directory and inside the image, every sector behind them 0xFF.
void check_packed_image(const char* name);

// Display name NAME.T of the first used slot of `image`, empty if none.
std::string first_used_name(const Bytes& image);

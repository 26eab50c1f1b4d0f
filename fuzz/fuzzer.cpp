// The libFuzzer target: the tool in-process, in a scratch directory it never writes outside of.
// The first byte chooses what the rest is: 0 an image through every command (what they write opens
// again and is packed, a failure writes nothing; -iv never writes, an image it calls clean takes
// every command, -iv -fix leaves no error); 1 a complex name (a built one parses back the same);
// 2 arguments split at NUL bytes, for the option parser; 3 a -fl list (the image stays packed).
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cli/alloc.h"
#include "cli/entry.h"
#include "cli/options.h"
#include "image/image_format.h"
#include "names/complex_name.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
fs::path scratch;
std::string context;  // the command line run last
Bytes base_image;     // 32 kB, 8 slots, one file

void require(bool holds, const std::string& what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s (%s)\n", what.c_str(), context.c_str());
  std::abort();
}

void write_file(const char* name, const void* data, std::size_t size) {
  std::ofstream(name, std::ios::binary).write(static_cast<const char*>(data), long(size));
}

Bytes read_file(const char* name) {
  std::ifstream file(name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), {});
}

long count(const fs::path& dir) { return std::distance(fs::directory_iterator(dir), {}); }
void clean_scratch() {
  for (const auto& entry : fs::directory_iterator("."))
    if (entry.path().filename() != "prog") fs::remove_all(entry.path());
  require(fs::current_path() == scratch / "work" && count(".") == 1 && count("prog") == 3 &&
              count(scratch) == 1,
      "a file was left or written outside the scratch directory");
}

int run_tool(std::vector<std::string> args) {
  context.clear();
  for (const std::string& arg : args) context += arg + " ";
  args.insert(args.begin(), "prog/vemtool");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return run_vemtool(static_cast<int>(args.size()), argv.data());
}

bool name_char(std::uint8_t c) { return c >= 0x21 && c <= 0x7E; }
int u16_at(const Bytes& bytes, std::size_t at) { return bytes[at] | bytes[at + 1] << 8; }

// The image must open again and be packed (read here, not by the code under
// test): used slots first, free slots all 0xE5, files back to back after the
// directory and inside the image, every sector behind them 0xFF.
void check_packed_image() {
  const std::string command = context;
  require(run_tool({"img.vem", "-ii"}) == 0, "a written image does not open again: " + command);
  const Bytes image = read_file("img.vem");
  const std::size_t size =
      image.size() < IMAGE_HEADER_SIZE ? ~0u : (u16_at(image, HDR_LAST_SECTOR) + 1u) * SECTOR_SIZE;
  require(image.size() >= size, "a written image is shorter than its header or geometry");
  std::size_t next = image[HDR_BOOT_SECTORS] + image[HDR_DIR_SECTORS];
  bool free_seen = false;
  for (int i = 0; i < image[HDR_DIR_SECTORS] * ENTRIES_PER_SECTOR; ++i) {
    const auto slot = image.begin() + image[HDR_BOOT_SECTORS] * SECTOR_SIZE + i * DIR_ENTRY_SIZE;
    const bool used = name_char(slot[0]) && name_char(slot[1]);
    require(used || std::count(slot, slot + DIR_ENTRY_SIZE, EMPTY_ENTRY_FILL) == DIR_ENTRY_SIZE,
        "a free slot is not 0xE5");
    require(!used || !free_seen, "a used slot follows a free one");
    free_seen = free_seen || !used;
    require(!used || std::size_t(slot[9] | slot[10] << 8) == next, "files are not packed");
    if (used) next += std::size_t(round_to_sectors(slot[13] | slot[14] << 8) / SECTOR_SIZE);
    require(next * SECTOR_SIZE <= size, "a file lies outside the image");
  }
  require(std::count(image.begin() + long(next * SECTOR_SIZE), image.begin() + long(size),
              FREE_SECTOR_FILL) == long(size - next * SECTOR_SIZE),
      "a free sector is not 0xFF");
}

// The input as img.vem beside a host file and an empty out/.
void fresh_scratch(const Bytes& input) {
  clean_scratch();
  write_file("img.vem", input.data(), input.size());
  write_file("host.bin", "host file data\n", 15);
  fs::create_directory("out");
}

enum Check { READS, PACKED, ONE_SLOT };
// "@" stands for the first stored name.
const std::vector<std::pair<Check, std::vector<std::string>>> COMMANDS = {{READS, {"-ii"}},
    {READS, {"-c"}}, {READS, {"-c", "*.B"}}, {READS, {"-c", "?A*"}}, {READS, {"-fx", "out/*"}},
    {READS, {"-fx", "out/*", "-cfn", "-cfnl", "out/list.txt"}},
    {READS, {"-fx", "out/@", "-cfnl", "list.txt"}}, {READS, {"-li", "@"}}, {PACKED, {"-fd", "*"}},
    {PACKED, {"-fd", "@"}}, {PACKED, {"-fa", "host.bin"}},
    {PACKED, {"-fa", "host.bin", "-fn", "NEW.X", "-ln", "New file", "-sa", "0x4000", "-al", "-ar"}},
    {PACKED, {"-fa", "host.bin", "-fn", "@", "-ow", "-psc"}}, {PACKED, {"-fr", "@", "host.bin"}},
    {PACKED, {"-ml", "LOADER.L", "@", "@", "-mon", "2X"}},
    {PACKED, {"-ir", "-is", "32", "-id", "4"}}, {PACKED, {"-ir", "-is", "64", "-id", "256"}},
    {ONE_SLOT, {"-fp", "@", "-fn", "RENAMED.Q", "-ln", "Renamed", "-sa", "1", "-al", "-ar"}}};

void fuzz_image(const Bytes& input) {
  // NAME.T of the first used slot, FILE.B if none.
  std::string stored = "FILE.B";
  const std::size_t dir = input.size() < IMAGE_HEADER_SIZE ? 0 : input[HDR_BOOT_SECTORS] * 128u;
  for (std::size_t at = dir; dir && at + 32 <= std::min(input.size(), dir + input[13] * 128u);
       at += 32) {
    if (!name_char(input[at]) || !name_char(input[at + 1])) continue;
    stored.assign(input.begin() + long(at) + 1, input.begin() + long(at) + 9);
    stored = stored.substr(0, stored.find_last_not_of(' ') + 1) + "." + char(input[at]);
    break;
  }
  // Writing commands fill the whole image; larger claimed geometries only
  // slow the run without reaching other code.
  const bool may_write = input.size() < IMAGE_HEADER_SIZE || u16_at(input, HDR_LAST_SECTOR) <= 2047;
  for (auto [check, args] : COMMANDS) {
    if (check != READS && !may_write) continue;
    fresh_scratch(input);
    for (std::string& arg : args)
      if (arg.back() == '@') arg = arg.substr(0, arg.size() - 1) + stored;
    args.insert(args.begin(), "img.vem");
    const int status = run_tool(args);
    const Bytes after = read_file("img.vem");
    // -ir builds a new image beside the old one: a failure may leave either.
    require(after == input || (status == 0 && check != READS) || (status && args[1] == "-ir"),
        "a failed or reading command changed the image");
    if (status == 0 && check == PACKED && after != input) check_packed_image();
    std::size_t first = after.size(), last = 0;
    for (std::size_t i = 0; check == ONE_SLOT && i < std::min(after.size(), input.size()); ++i)
      if (after[i] != input[i]) last = i, first = std::min(first, i);
    require(check != ONE_SLOT || status != 0 ||
                (after.size() == input.size() && (first > last || last - first < DIR_ENTRY_SIZE) &&
                    run_tool({"img.vem", "-ii"}) == 0),
        "-fp changed more than one slot, or left an image that does not open");
  }
  fresh_scratch(input);
  const int status = run_tool({"img.vem", "-iv"});
  require((status == 0 || status == 31 || status == 32) && read_file("img.vem") == input,
      "-iv ended with another status or changed the image");
  if (status == 0 && may_write) {
    require(run_tool({"img.vem", "-ii"}) == 0 && run_tool({"img.vem", "-c"}) == 0 &&
                run_tool({"img.vem", "-fx", "out/*", "-cfn"}) == 0,
        "a reading command fails on an image -iv calls clean");
    write_file("host.bin", input.data(), input.size() % 300);
    const int added = run_tool({"img.vem", "-fa", "host.bin", "-ow"});
    require(added == 0 || added == 26 || added == 27, "an add fails on an image -iv calls clean");
    if (added == 0) check_packed_image();
  }
  if (!may_write) return;
  fresh_scratch(input);
  const bool fixed = run_tool({"img.vem", "-iv", "-fix"}) == 0;
  require(fixed ? run_tool({"img.vem", "-iv"}) != 32 : read_file("img.vem") == input,
      "-iv -fix left an error, or changed the image when it failed");
}

// What survives a round trip: the text up to a NUL (and a point), trimmed, padded.
template <std::size_t N>
std::array<std::uint8_t, N> survivor(const std::array<std::uint8_t, N>& field, bool cut_at_point) {
  char text[N + 1] = {};
  std::memcpy(text, field.data(), N);
  std::string kept = trim(text);
  kept = kept.substr(0, cut_at_point ? kept.find('.') : kept.npos) + std::string(N, ' ');
  std::array<std::uint8_t, N> padded{};
  std::memcpy(padded.data(), kept.data(), N);
  return padded;
}

void check_round_trip(const DirEntry& entry) {
  // A used slot; a name that starts with a point keeps nothing to parse.
  if (!name_char(entry.type) || !name_char(entry.name[0]) || entry.name[0] == '.') return;
  char built[COMPLEX_NAME_SIZE];
  std::memset(built, 0x7F, sizeof built);
  build_file_name(entry, built, 1);
  require(std::memchr(built, '\0', sizeof built) != nullptr, "a built name is not terminated");
  DirEntry parsed{};
  require(parse_complex_name(parsed, built) == 0, "a built name does not parse");
  auto long_name = survivor(entry.long_name, false);
  if (entry.long_name[0] == ' ') long_name.fill(' ');
  require(parsed.type == entry.type && parsed.name == survivor(entry.name, true) &&
              parsed.long_name == long_name && parsed.start_address == entry.start_address &&
              parsed.attributes == entry.attributes && get_u16(parsed.first_sector) == 0 &&
              get_u16(parsed.length) == 0,
      "a field changed in a round trip");
}

void parse_arguments(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args = {VEMTOOL_DATA_DIR "/vemtool", ""};
  for (std::size_t i = 0; i < size && args.size() < 64; ++i) {
    if (data[i] == '\0') args.emplace_back();
    if (data[i] != '\0') args.back().push_back(static_cast<char>(data[i]));
  }
  if (args.size() <= 2) return;  // the entry point shows the usage text
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Context* ctx = nullptr;
  const int result = parse_options(static_cast<int>(args.size()), argv.data(), ctx);
  // A parse that passed gives a Context with at most one command (none runs nothing).
  require(result < 0 || (result == 0 && ctx != nullptr &&
                            ctx->cmd_ic + ctx->cmd_ir + ctx->cmd_ii + ctx->cmd_c + ctx->cmd_fa +
                                    ctx->cmd_fc + ctx->cmd_fl + ctx->cmd_fr + ctx->cmd_fp +
                                    ctx->cmd_fd + ctx->cmd_fx + ctx->cmd_ml + ctx->cmd_li <=
                                1),
      "the parser gave a code above 0, no Context, or more than one command");
  release(ctx);
}

}  // namespace

// A scratch directory in tmpfs where there is one, the data files in prog/
// (the Loader's temporary file goes beside them); not in the job's parent.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  for (int i = 1; i < *argc; ++i)
    if (std::strncmp((*argv)[i], "-jobs=", 6) == 0) return 0;
  std::string parent =
      ::access("/dev/shm", W_OK) ? "/tmp/vemfuzz.XXXXXX" : "/dev/shm/vemfuzz.XXXXXX";
  require(::mkdtemp(parent.data()) != nullptr, "cannot make the scratch directory");
  scratch = parent;
  fs::create_directories(scratch / "work" / "prog");
  fs::current_path(scratch / "work");
  for (const char* name : {"vem-boot.bin", "vem-ldr.bin", "unpckpsc.bin"})
    fs::copy_file(fs::path(VEMTOOL_DATA_DIR) / name, fs::path("prog") / name);
  std::atexit([] { fs::remove_all(scratch); });
  require(
      std::freopen("/dev/null", "w", stdout) && std::freopen("/dev/null", "r", stdin), "/dev/null");
  write_file("base.bin", Bytes(300, 0x5A).data(), 300);
  require(run_tool({"img.vem", "-ic", "-is", "32", "-id", "8"}) == 0 &&
              run_tool({"img.vem", "-fa", "base.bin", "-ln", "Base file", "-sa", "0x100"}) == 0,
      "cannot make the base image");
  base_image = read_file("img.vem");
  clean_scratch();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size-- == 0) return 0;
  const int mode = *data++ % 4;
  if (mode == 0) fuzz_image(Bytes(data, data + size));
  if (mode == 2) parse_arguments(data, size);
  if (mode == 3) {
    clean_scratch();
    write_file("img.vem", base_image.data(), base_image.size());
    // Complex names, a plain name, and files of 0, 1 sector, 2 sectors.
    for (const auto& [name, length] :
        {std::pair<const char*, std::size_t>{"GAME_My#20Game_32768_1.B", 200}, {"EMPTY___.X", 0},
            {"SECTOR_Long#5Fname#23_0x8000_3.D", 128}, {"plain.bin", 10}})
      write_file(name, Bytes(length, static_cast<std::uint8_t>(length)).data(), length);
    write_file("list.txt", data, size);
    run_tool({"img.vem", "-fl", "list.txt"});
    check_packed_image();
  }
  DirEntry entry{};
  if (mode == 1 && size >= sizeof entry)
    check_round_trip(*static_cast<DirEntry*>(std::memcpy(&entry, data, sizeof entry)));
  if (mode == 1 && parse_complex_name(entry,
                       std::string(reinterpret_cast<const char*>(data), size).c_str()) == 0) {
    require(name_char(entry.type), "a parsed type is no name character");
    check_round_trip(entry);
  }
  clean_scratch();
  return 0;
}

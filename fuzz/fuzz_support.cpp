#include "fuzz_support.h"

#include <ftw.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>

#include "cli/entry.h"
#include "image/image_format.h"
#include "names/complex_name.h"

namespace {

std::string check_context;
std::string scratch_parent;
std::string scratch_dir;

// The data files lie in prog/ inside the scratch directory, so the Loader's
// temporary file, made beside its template, stays inside too.
constexpr const char* PROGRAM_DIR = "prog";
constexpr std::array<const char*, 3> DATA_FILES = {"vem-boot.bin", "vem-ldr.bin", "unpckpsc.bin"};

bool in_program_dir(const char* path) {
  const std::string p = path;
  return p == "./prog" || p.rfind("./prog/", 0) == 0;
}

int remove_entry(const char* path, const struct stat*, int, struct FTW* ftw) {
  if (ftw->level == 0 || in_program_dir(path)) return 0;
  return ::remove(path);
}

// Names in `dir` other than "." and "..".
std::vector<std::string> list_dir(const char* dir_name) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(dir_name);
  require(dir != nullptr, "cannot list a scratch directory");
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  return names;
}

void copy_data_file(const char* name) {
  const Bytes bytes = read_file((std::string(VEMTOOL_DATA_DIR) + "/" + name).c_str());
  require(!bytes.empty(), "a data file is missing in the build directory");
  write_file((std::string(PROGRAM_DIR) + "/" + name).c_str(), bytes.data(), bytes.size());
}

int remove_all(const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }

void remove_scratch() {
  ::nftw(scratch_parent.c_str(), remove_all, 16, FTW_DEPTH | FTW_PHYS);
}

bool slot_used(const std::uint8_t* slot) {
  const auto in_range = [](std::uint8_t c) { return c >= 0x21 && c <= 0x7E; };
  return in_range(slot[0]) && in_range(slot[1]);
}

int u16_at(const Bytes& bytes, std::size_t offset) { return bytes[offset] | (bytes[offset + 1] << 8); }

}  // namespace

void require(bool holds, const char* what) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s (%s)\n", what, check_context.c_str());
  std::abort();
}

bool enter_scratch(int argc, char** argv) {
  // With -jobs, this process only starts the fuzzing job and keeps its log
  // in the directory it was started from.
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "-jobs=", 6) == 0) return false;
  }
  std::array<char, 32> parent{};
  // tmpfs where there is one: a run creates and removes many small files.
  const bool shm = ::access("/dev/shm", W_OK) == 0;
  std::snprintf(parent.data(), parent.size(), "%s/vemfuzz.XXXXXX", shm ? "/dev/shm" : "/tmp");
  require(::mkdtemp(parent.data()) != nullptr, "cannot make the scratch directory");
  scratch_parent = parent.data();
  scratch_dir = scratch_parent + "/work";
  require(::mkdir(scratch_dir.c_str(), 0700) == 0, "cannot make the scratch directory");
  require(::chdir(scratch_dir.c_str()) == 0, "cannot enter the scratch directory");
  require(::mkdir(PROGRAM_DIR, 0700) == 0, "cannot make the program directory");
  for (const char* name : DATA_FILES) copy_data_file(name);
  std::atexit(remove_scratch);
  require(std::freopen("/dev/null", "w", stdout) != nullptr, "cannot silence stdout");
  require(std::freopen("/dev/null", "r", stdin) != nullptr, "cannot close stdin");
  return true;
}

void clean_scratch() {
  std::array<char, 4096> cwd{};
  require(::getcwd(cwd.data(), cwd.size()) != nullptr && scratch_dir == cwd.data(),
          "the working directory moved");
  ::nftw(".", remove_entry, 16, FTW_DEPTH | FTW_PHYS);
  require(list_dir(".") == std::vector<std::string>{PROGRAM_DIR}, "the scratch directory cannot be emptied");
  require(list_dir(PROGRAM_DIR).size() == DATA_FILES.size(), "a file was left beside the data files");
  // Anything beside the scratch directory was written outside it.
  require(list_dir(scratch_parent.c_str()) == std::vector<std::string>{"work"},
          "a file was written outside the scratch directory");
}

int run_tool(const std::vector<std::string>& args) {
  check_context.clear();
  for (const std::string& arg : args) check_context += arg + " ";
  std::vector<std::string> storage;
  storage.push_back(std::string(PROGRAM_DIR) + "/vemtool");
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : storage) argv.push_back(arg.data());
  argv.push_back(nullptr);
  return run_vemtool(static_cast<int>(storage.size()), argv.data());
}

void write_file(const char* name, const std::uint8_t* data, std::size_t size) {
  std::FILE* file = std::fopen(name, "wb");
  require(file != nullptr, "cannot write a scratch file");
  require(size == 0 || std::fwrite(data, 1, size, file) == size, "cannot write a scratch file");
  std::fclose(file);
}

Bytes read_file(const char* name) {
  Bytes bytes;
  std::FILE* file = std::fopen(name, "rb");
  if (file == nullptr) return bytes;
  std::array<std::uint8_t, 4096> piece{};
  std::size_t n = 0;
  while ((n = std::fread(piece.data(), 1, piece.size(), file)) > 0) bytes.insert(bytes.end(), piece.data(), piece.data() + n);
  std::fclose(file);
  return bytes;
}

void check_packed_image(const char* name) {
  const std::string command = check_context;
  const bool opens = run_tool({name, "-ii"}) == 0;
  check_context = command;
  require(opens, "a written image does not open again");
  const Bytes image = read_file(name);
  require(image.size() >= IMAGE_HEADER_SIZE, "a written image lost its header");
  const int boot_sectors = image[HDR_BOOT_SECTORS];
  const int dir_sectors = image[HDR_DIR_SECTORS];
  const std::size_t image_size = static_cast<std::size_t>(u16_at(image, HDR_LAST_SECTOR) + 1) * SECTOR_SIZE;
  require(image.size() >= image_size, "a written image is shorter than its geometry");
  const std::size_t dir_start = static_cast<std::size_t>(boot_sectors) * SECTOR_SIZE;
  const int slots = dir_sectors * ENTRIES_PER_SECTOR;
  std::size_t next_sector = static_cast<std::size_t>(boot_sectors + dir_sectors);
  bool free_seen = false;
  for (int i = 0; i < slots; ++i) {
    const std::uint8_t* slot = image.data() + dir_start + static_cast<std::size_t>(i) * DIR_ENTRY_SIZE;
    if (!slot_used(slot)) {
      free_seen = true;
      for (int b = 0; b < DIR_ENTRY_SIZE; ++b) require(slot[b] == EMPTY_ENTRY_FILL, "a free slot is not 0xE5");
      continue;
    }
    require(!free_seen, "a used slot follows a free one");
    const std::size_t offset = dir_start + static_cast<std::size_t>(i) * DIR_ENTRY_SIZE;
    require(static_cast<std::size_t>(u16_at(image, offset + 9)) == next_sector, "files are not packed");
    next_sector += static_cast<std::size_t>(round_to_sectors(u16_at(image, offset + 13)) / SECTOR_SIZE);
    require(next_sector * SECTOR_SIZE <= image_size, "a file lies outside the image");
  }
  for (std::size_t b = next_sector * SECTOR_SIZE; b < image_size; ++b) {
    require(image[b] == FREE_SECTOR_FILL, "a free sector is not 0xFF");
  }
}

std::string first_used_name(const Bytes& image) {
  if (image.size() < IMAGE_HEADER_SIZE) return "";
  const std::size_t dir_start = static_cast<std::size_t>(image[HDR_BOOT_SECTORS]) * SECTOR_SIZE;
  const int slots = image[HDR_DIR_SECTORS] * ENTRIES_PER_SECTOR;
  for (int i = 0; i < slots; ++i) {
    const std::size_t offset = dir_start + static_cast<std::size_t>(i) * DIR_ENTRY_SIZE;
    if (offset + DIR_ENTRY_SIZE > image.size()) break;
    if (!slot_used(image.data() + offset)) continue;
    DirEntry entry{};
    std::memcpy(&entry, image.data() + offset, sizeof entry);
    std::array<char, DISPLAY_NAME_SIZE> display{};
    build_file_name(entry, display.data(), 0);
    return display.data();
  }
  return "";
}

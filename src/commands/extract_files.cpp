#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "commands/commands.h"
#include "image/directory.h"
#include "image/file_io.h"
#include "names/complex_name.h"
#include "names/name81.h"

namespace {

using NameBuffer = std::array<char, PATH_FIELD_SIZE>;

// Target directory and name, with a last character that no host file name
// may end in replaced by "bin". Empty when the result does not fit a path.
std::string host_path_for(const Context& ctx, const char* name) {
  std::string path = std::string(ctx.target_directory.data()) + name;
  if (!path.empty() && is_special_char(path.back(), false)) {
    path.pop_back();
    path += "bin";
  }
  return path;
}

bool written_before(const std::vector<FileIdentity>& written, const FileIdentity& target) {
  return std::any_of(written.begin(), written.end(),
      [&](const FileIdentity& file) { return same_identity(file, target); });
}

int extract_matching(Context& ctx, std::FILE* list, int& count) {
  const FileIdentity list_identity = identity_of_stream(list);
  std::vector<FileIdentity> written;
  ctx.entries_cursor = nullptr;
  for (EntryNode* node = next_matching_node(ctx, MATCH_MASK); node != nullptr;
       node = next_matching_node(ctx, MATCH_MASK)) {
    NameBuffer built{};
    if (ctx.opt_cfn) {
      build_file_name(*node->entry, built.data(), COMPLEX_FORM);
    } else {
      build_plain_host_name(*node->entry, built.data());
    }
    // Two stored names can give one host name (escapes, or case on a host
    // that ignores it): the later one gets one more escape, so that no file
    // of this run is overwritten and the name still reads back the same.
    std::string name = built.data();
    std::string path = host_path_for(ctx, name.c_str());
    FileIdentity target = identity_of_path(path.c_str());
    while (written_before(written, target)) {
      if (!escape_one_more(name)) return report_error(ERR_OPEN_WRITE, path.c_str());
      path = host_path_for(ctx, name.c_str());
      target = identity_of_path(path.c_str());
    }
    std::printf("Extracting file: %s\n", name.c_str());
    // Each file passes through the work buffer: no allocation per file.
    int result = node->rounded_length == 0
                     ? 0
                     : read_image_at(ctx, ctx.work_buffer, node->data_offset, node->rounded_length);
    if (result != 0) return result;
    PathField host_path{};
    // Neither a path too long for the field nor the image or the list being
    // written is overwritten by an extracted file.
    if (!copy_path(host_path, path.c_str()) || same_identity(target, ctx.image_identity) ||
        same_identity(target, list_identity)) {
      return report_error(ERR_OPEN_WRITE, path.c_str());
    }
    // A file of length 0 gives an empty host file, so an older file of that
    // name is not left behind as if extracted.
    written.emplace_back();
    result = write_output_file(
        host_path.data(), ctx.work_buffer, get_u16(node->entry->length), &written.back());
    if (result != 0) return result;
    if (list != nullptr &&
        std::fprintf(list, "%s%s%s", CURRENT_DIR_PREFIX, name.c_str(), HOST_LINE_END) < 0) {
      return report_error(ERR_WRITE, ctx.list_path.data());
    }
    ++count;
  }
  return 0;
}

}  // namespace

int extract_files(Context& ctx) {
  int result = open_and_load(ctx);
  if (result != 0) return result;
  std::printf("Extracting files by mask: %s\n", ctx.name.display.data());
  std::printf("Target path: %s\n", ctx.target_directory.data());
  FileGuard list;
  if (ctx.list_path[0] != '\0') {
    // Opening the list empties it: it must not be the image being read.
    if (!is_open_image(ctx, ctx.list_path.data()))
      list.reset(open_host_stream(ctx.list_path.data(), "wb"));
    if (!list) return report_error(ERR_OPEN_WRITE, ctx.list_path.data());
    std::printf("List file: %s\n", ctx.list_path.data());
  }
  std::printf("\n");

  int count = 0;
  result = extract_matching(ctx, list.get(), count);
  if (result != 0) return result;
  if (list && !close_written(list)) return report_error(ERR_WRITE, ctx.list_path.data());
  if (count == 0) {
    std::printf("No files found to extract by given mask!\n");
  } else {
    std::printf("\n%d file(s) extracted.\n", count);
  }
  return 0;
}

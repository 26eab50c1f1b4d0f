#include "image/file_io.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "cli/errors.h"

namespace {

constexpr std::size_t COPY_PIECE = 1 << 16;

// Length of an open stream by seeking to its end: the position, or -1 when
// it cannot be told; -2 when the seek itself fails.
long measure_length(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -2;
  const long size = std::ftell(file);
  return size < 0 ? -1 : size;
}

}  // namespace

bool is_directory(std::FILE* file) { return stream_is_directory(file); }

bool is_open_image(const Context& ctx, const char* path) {
  return os_is_open(ctx.image) && same_identity(ctx.image_identity, identity_of_path(path));
}

bool open_buffered(
    BufferedFile& stream, const char* name, const char* mode, std::size_t buffer_size) {
  stream.file.reset(open_host_stream(name, mode));
  if (!stream.file) return false;
  stream.buffer.resize(buffer_size);
  if (buffer_size == 0) return std::setvbuf(stream.file.get(), nullptr, _IONBF, 0) == 0;
  return std::setvbuf(stream.file.get(), stream.buffer.data(), _IOFBF, stream.buffer.size()) == 0;
}

bool close_written(FileGuard& file) {
  std::FILE* raw = file.release();
  if (raw == nullptr) return true;
  const bool flushed = std::fflush(raw) == 0 && !std::ferror(raw);
  return (std::fclose(raw) == 0) && flushed;
}

std::string journal_name(const char* image) { return std::string(image) + ".jnl"; }
std::string temporary_copy_name(const char* image) { return std::string(image) + ".tmp"; }
std::string backup_name(const char* image) { return std::string(image) + ".bak"; }
std::string new_image_prefix(const char* image) { return std::string(image) + ".new-"; }

std::vector<std::string> stale_new_images(const char* image, bool mine_only) {
  namespace fs = std::filesystem;
  std::vector<std::string> found;
  const std::string prefix = new_image_prefix(image);
  const int separator = static_cast<int>(prefix.find_last_of(HOST_IS_WINDOWS ? "/\\" : "/"));
  const std::string directory = prefix.substr(0, static_cast<std::size_t>(separator + 1));
  const std::string stem = prefix.substr(static_cast<std::size_t>(separator + 1));
  std::error_code error;
  for (const auto& entry :
      fs::directory_iterator(directory.empty() ? fs::path(".") : fs::path(directory), error)) {
    const std::string name = entry.path().filename().string();
    const bool ours = name.size() == stem.size() + 6 && name.compare(0, stem.size(), stem) == 0 &&
                      std::all_of(name.begin() + static_cast<long>(stem.size()), name.end(),
                          [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
    if (!ours || !entry.is_regular_file(error) || entry.is_symlink(error)) continue;
    const std::string path = directory + name;
    const FileStatus status = status_of(path.c_str());
    if (!mine_only || !HOST_HAS_OWNERS || status.owner == current_user()) found.push_back(path);
  }
  return found;
}

bool command_writes_image(const Context& ctx) {
  return !(ctx.cmd_c || ctx.cmd_ii || ctx.cmd_fx || ctx.cmd_li || (ctx.cmd_iv && !ctx.opt_fix));
}

int open_image_file(Context& ctx, ImageOpening opening, bool exclusive) {
  close_image(ctx);
  ctx.image_path = resolved_path(ctx.image_name);
  const char* path = ctx.image_path.c_str();
  const bool recreate = opening == RECREATE;
  if (recreate && removal_refused(path)) return report_error(ERR_ACCESS_WRITE, ctx.image_name);
  const OpenMode mode = recreate    ? OpenMode::create_read_write
                        : exclusive ? OpenMode::read_write
                                    : OpenMode::read_only;
  const long long deadline = monotonic_ms() + IMAGE_LOCK_WAIT_MS;
  int pause = 1;
  for (;;) {
    if (!os_open(ctx.image, path, mode)) return report_error(ERR_OPEN_WRITE, ctx.image_name);
    const LockOutcome lock = os_lock(ctx.image, exclusive);
    // A file system without locks still serves, as it did before locking. A
    // file replaced while this run waited (-ic and -ir put a new one in
    // place) is opened again by name.
    ctx.image_identity = os_identity(ctx.image);
    if (lock == LockOutcome::failed ||
        (lock == LockOutcome::locked &&
            same_identity(ctx.image_identity, identity_of_path(path)))) {
      ctx.image_locked_exclusive = exclusive;
      ctx.image_status = os_status(ctx.image);
      return 0;
    }
    // Closed while waiting: Windows replaces no file that is held open.
    os_close(ctx.image);
    if (lock == LockOutcome::locked) continue;
    if (monotonic_ms() >= deadline) {
      return report_error(exclusive ? ERR_ACCESS_WRITE : ERR_ACCESS_READ, ctx.image_name);
    }
    pause_ms(pause);
    pause = std::min(pause * 2, 20);
  }
}

bool image_writable(const Context& ctx) {
  OsFile file;
  if (!os_open(file, ctx.image_path.c_str(), OpenMode::read_write)) return false;
  os_close(file);
  return true;
}

int close_image(Context& ctx) {
  os_close(ctx.image);
  ctx.image_length = -1;
  ctx.known_fill_from = -1;
  ctx.image_identity = FileIdentity{};
  ctx.image_status = FileStatus{};
  return 0;
}

long image_file_length(Context& ctx) {
  if (ctx.image_length < 0) {
    const long size = os_size(ctx.image);
    if (size < 0) return report_error(ERR_FILE_LENGTH, ctx.image_name);
    ctx.image_length = size;
  }
  return ctx.image_length;
}

int check_image_range(Context& ctx, long offset, int length) {
  const long size = image_file_length(ctx);
  if (size < 0) return static_cast<int>(size);
  if (size <= offset || size < offset + length)
    return report_error(ERR_READ_BEYOND_END, ctx.image_name);
  return 0;
}

int read_image_at(Context& ctx, void* buffer, long offset, int length) {
  const int result = check_image_range(ctx, offset, length);
  if (result != 0) return result;
  if (os_read_at(ctx.image, buffer, length, offset) != length)
    return report_error(ERR_READ, ctx.image_name);
  return 0;
}

int read_host_file(const char* name, std::uint8_t* buffer, int max) {
  FileGuard file(open_host_stream(name, "rb"));
  // A directory opens for reading here, but is no file to read.
  if (!file || is_directory(file.get())) return report_error(ERR_OPEN_READ, name);
  const long size = measure_length(file.get());
  if (size == -2) return report_error(ERR_ACCESS_READ, name);
  if (size < 0) return report_error(ERR_FILE_LENGTH, name);
  if (size > max) return report_error(ERR_SOURCE_TOO_LONG, name, max);
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return report_error(ERR_ACCESS_READ, name);
  // Read to the end: some files (/proc, devices) measure 0 but hold more.
  const std::size_t got = std::fread(buffer, 1, static_cast<std::size_t>(max), file.get());
  if (std::ferror(file.get()) || got < static_cast<std::size_t>(size))
    return report_error(ERR_READ, name);
  if (got == static_cast<std::size_t>(max)) {
    char beyond = 0;
    if (std::fread(&beyond, 1, 1, file.get()) == 1)
      return report_error(ERR_SOURCE_TOO_LONG, name, max);
  }
  return static_cast<int>(got);
}

namespace {

// Opens an output file made where nothing stands, or the plain file that
// stands there, emptied; never through a link or a second name. 0 or the
// reported error.
int open_output(const char* name, OsFile& file, FileIdentity* identity) {
  const bool made = os_open(file, name, OpenMode::create_exclusive);
  if (!made && !os_open(file, name, OpenMode::write_no_follow))
    return report_error(ERR_OPEN_WRITE, name);
  const FileStatus status = os_status(file);
  if (identity != nullptr) *identity = status.identity;
  if (made) return 0;
  // Written through a second name, the bytes would land in a file elsewhere.
  if (!status.regular || status.links > 1) {
    os_close(file);
    return report_error(ERR_OPEN_WRITE, name);
  }
  if (os_truncate(file, 0)) return 0;
  os_close(file);
  return report_error(ERR_WRITE, name);
}

// Closes an output file; one cut short by a failed write is removed, so that
// it does not pass for the whole one.
int close_output(const char* name, OsFile& file, bool stored) {
  os_close(file);
  if (stored) return 0;
  remove_file(name);
  return report_error(ERR_WRITE, name);
}

}  // namespace

int write_output_file(
    const char* name, const std::uint8_t* data, int length, FileIdentity* written) {
  OsFile file;
  const int result = open_output(name, file, written);
  if (result != 0) return result;
  return close_output(name, file, os_write_at(file, data, length, 0) == length);
}

int write_image_range(Context& ctx, const char* name, long offset, long length) {
  OsFile file;
  int result = open_output(name, file, nullptr);
  std::vector<std::uint8_t> piece(COPY_PIECE);
  for (long done = 0; result == 0 && done < length; done += COPY_PIECE) {
    const long n = std::min<long>(COPY_PIECE, length - done);
    result = read_image_at(ctx, piece.data(), offset + done, static_cast<int>(n));
    if (result != 0) {
      os_close(file);
      remove_file(name);
    } else if (os_write_at(file, piece.data(), n, done) != n) {
      return close_output(name, file, false);
    }
  }
  return result != 0 ? result : close_output(name, file, true);
}

int write_host_file(const char* name, const std::uint8_t* buffer, int length) {
  return length <= 0 ? 0 : write_output_file(name, buffer, length);
}

bool write_temporary_file(const std::string& directory, const char* prefix,
    const std::uint8_t* data, int length, std::string& path) {
  OsFile file;
  if (!make_unique_file(directory + prefix, 0600, file, path)) return false;
  const bool written = os_write_at(file, data, length, 0) == length;
  os_close(file);
  if (!written) remove_file(path.c_str());
  return written;
}

int copy_host_file(const char* target, const char* source) {
  if (remove_file(target) == RemoveOutcome::denied) return report_error(ERR_ACCESS_WRITE, target);
  BufferedFile in;
  if (!open_buffered(in, source, "rb", 0)) return report_error(ERR_OPEN_READ, source);
  long remaining = measure_length(in.file.get());
  if (remaining == -2) return report_error(ERR_ACCESS_READ, source);
  if (remaining < 0) return report_error(ERR_FILE_LENGTH, source);
  if (std::fseek(in.file.get(), 0, SEEK_SET) != 0) return report_error(ERR_ACCESS_READ, source);
  const FileStatus status = status_of(source);
  OsFile out;
  if (!os_open(out, target, OpenMode::create_exclusive, status.known ? status.mode : 0666))
    return report_error(ERR_OPEN_WRITE, target);
  std::vector<char> piece(COPY_PIECE);
  int result = 0;
  for (long done = 0; result == 0 && done < remaining;) {
    const std::size_t n = std::fread(piece.data(), 1, piece.size(), in.file.get());
    // The source shrank or failed: a short copy must not pass for a whole one.
    if (n == 0) {
      result = report_error(ERR_READ, source);
    } else if (os_write_at(out, piece.data(), static_cast<long>(n), done) != static_cast<long>(n)) {
      result = report_error(ERR_WRITE, target);
    }
    done += static_cast<long>(n);
  }
  os_close(out);
  if (result != 0) remove_file(target);
  return result;
}

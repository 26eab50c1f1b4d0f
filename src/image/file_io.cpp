#include "image/file_io.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>

#include "cli/errors.h"
#include "image/commit.h"

namespace {

constexpr std::size_t COPY_PIECE = 512;

// Length of an open stream by seeking to its end: the position, or -1 when
// it cannot be told; -2 when the seek itself fails.
long measure_length(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -2;
  const long size = std::ftell(file);
  return size < 0 ? -1 : size;
}

// Opens the image file and takes its lock. A file replaced while this run
// waited (-ic and -ir put a new file in place) is opened again by name.
int open_and_lock(Context& ctx, OpenMode mode, bool exclusive, int busy_error) {
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(IMAGE_LOCK_WAIT_MS);
  for (;;) {
    if (!os_open(ctx.image, ctx.image_name, mode))
      return report_error(ERR_OPEN_WRITE, ctx.image_name);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    const LockOutcome lock =
        os_lock(ctx.image, exclusive, static_cast<int>(std::max<long long>(0, left.count())));
    if (lock == LockOutcome::busy) {
      os_close(ctx.image);
      return report_error(busy_error, ctx.image_name);
    }
    // A file system without locks still serves, as it did before locking.
    ctx.image_identity = os_identity(ctx.image);
    if (lock == LockOutcome::failed ||
        same_identity(ctx.image_identity, identity_of_path(ctx.image_name))) {
      ctx.image_locked_exclusive = exclusive;
      return 0;
    }
    os_close(ctx.image);
  }
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
std::string new_image_name(const char* image) { return std::string(image) + ".new"; }
std::string temporary_copy_name(const char* image) { return std::string(image) + ".tmp"; }
std::string backup_name(const char* image) { return std::string(image) + ".bak"; }

bool command_writes_image(const Context& ctx) {
  return !(ctx.cmd_c || ctx.cmd_ii || ctx.cmd_fx || ctx.cmd_li || (ctx.cmd_iv && !ctx.opt_fix));
}

int open_image(Context& ctx, ImageOpening opening) {
  const bool exclusive = command_writes_image(ctx);
  if (os_is_open(ctx.image) && ctx.image_locked_exclusive == exclusive) {
    ctx.image_length = -1;  // the last commit may have grown it
    return 0;
  }
  close_image(ctx);
  const bool recreate = opening == RECREATE;
  if (recreate && removal_refused(ctx.image_name)) {
    return report_error(ERR_ACCESS_WRITE, ctx.image_name);
  }
  const bool as_found = opening == OPEN_AS_FOUND;
  const OpenMode mode = recreate                 ? OpenMode::create_read_write
                        : as_found && !exclusive ? OpenMode::read_only
                                                 : OpenMode::read_write;
  const int busy_error = exclusive ? ERR_ACCESS_WRITE : ERR_ACCESS_READ;
  int result = open_and_lock(ctx, mode, exclusive, busy_error);
  ctx.image_length = -1;
  ctx.known_fill_from = -1;
  if (as_found) return result;
  if (result != 0 || exclusive || !path_exists(journal_name(ctx.image_name).c_str())) {
    return result != 0 ? result : recover_image(ctx);
  }
  // A reading run that finds a change left half-done takes the image as a
  // writer would to put it right, then holds it shared again.
  close_image(ctx);
  result = open_and_lock(ctx, mode, true, busy_error);
  if (result == 0) result = recover_image(ctx);
  if (result == 0 && os_lock(ctx.image, false, IMAGE_LOCK_WAIT_MS) == LockOutcome::locked) {
    ctx.image_locked_exclusive = false;
  }
  return result;
}

int close_image(Context& ctx) {
  os_close(ctx.image);
  ctx.image_length = -1;
  ctx.known_fill_from = -1;
  ctx.image_identity = FileIdentity{};
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

int write_host_file(const char* name, const std::uint8_t* buffer, int length, WriteMode mode) {
  if (length <= 0) return 0;
  if (mode == WRITE_APPEND) {
    FileGuard file(open_host_stream(name, "ab"));
    if (!file) return report_error(ERR_OPEN_WRITE, name);
    if (std::fwrite(buffer, 1, static_cast<std::size_t>(length), file.get()) !=
            static_cast<std::size_t>(length) ||
        !close_written(file)) {
      return report_error(ERR_WRITE, name);
    }
    return 0;
  }
  // One open, one write, one close: extraction writes many small files.
  OsFile file;
  if (!os_open(file, name, OpenMode::create_new_truncated))
    return report_error(ERR_OPEN_WRITE, name);
  const bool written = os_write_at(file, buffer, length, 0) == length;
  os_close(file);
  return written ? 0 : report_error(ERR_WRITE, name);
}

int copy_host_file(const char* target, const char* source) {
  if (remove_file(target) == RemoveOutcome::denied) return report_error(ERR_ACCESS_WRITE, target);
  BufferedFile out;
  if (!open_buffered(out, target, "wb")) return report_error(ERR_OPEN_WRITE, target);
  BufferedFile in;
  if (!open_buffered(in, source, "rb")) return report_error(ERR_OPEN_READ, source);
  long remaining = measure_length(in.file.get());
  if (remaining == -2) return report_error(ERR_ACCESS_READ, source);
  if (remaining < 0) return report_error(ERR_FILE_LENGTH, source);
  if (std::fseek(in.file.get(), 0, SEEK_SET) != 0) return report_error(ERR_ACCESS_READ, source);
  std::array<char, COPY_PIECE> piece{};
  while (remaining > 0) {
    const std::size_t n = std::fread(piece.data(), 1, piece.size(), in.file.get());
    // The source shrank or failed: a short copy must not pass for a whole one.
    if (n == 0) return report_error(ERR_READ, source);
    if (std::fwrite(piece.data(), 1, n, out.file.get()) != n)
      return report_error(ERR_WRITE, target);
    remaining -= static_cast<long>(n);
  }
  in.file.reset();
  if (!close_written(out.file)) return report_error(ERR_WRITE, target);
  return 0;
}

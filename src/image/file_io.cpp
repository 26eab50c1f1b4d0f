#include "image/file_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>

#include "cli/alloc.h"
#include "cli/errors.h"

namespace {

constexpr std::size_t COPY_PIECE = 512;

void forget_position(Context& ctx) {
  ctx.image_position = -1;
  ctx.image_last_op = StreamOp::none;
}

bool errno_means_denied(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == EBUSY ||
         error == ETXTBSY;
}

// Length of an open stream by seeking to its end: the position, or -1 when
// it cannot be told; -2 when the seek itself fails.
long measure_length(std::FILE* file) {
  if (std::fseek(file, 0, SEEK_END) != 0) return -2;
  const long size = std::ftell(file);
  return size < 0 ? -1 : size;
}

// Moves the image stream to `offset`. Buffered writes are pushed out first:
// their failure is a failed write, not a failed positioning.
int reposition(Context& ctx, long offset, int seek_error) {
  if (ctx.image_last_op == StreamOp::write && std::fflush(ctx.image) != 0) {
    forget_position(ctx);
    return report_error(ERR_WRITE, ctx.image_name);
  }
  if (std::fseek(ctx.image, offset, SEEK_SET) != 0) {
    forget_position(ctx);
    return report_error(seek_error, ctx.image_name);
  }
  return 0;
}

}  // namespace

bool is_directory(std::FILE* file) {
  struct stat status {};
  return ::fstat(::fileno(file), &status) == 0 && S_ISDIR(status.st_mode);
}

bool is_open_image(const Context& ctx, const char* path) {
  struct stat other {};
  return ctx.image != nullptr && ::stat(path, &other) == 0 && other.st_dev == ctx.image_device &&
         other.st_ino == ctx.image_inode;
}

bool open_buffered(BufferedFile& stream, const char* name, const char* mode, std::size_t buffer_size) {
  stream.file.reset(std::fopen(name, mode));
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

bool remove_denied(const char* name) {
  // A read-only file counts as protected, as on hosts that refuse to delete it.
  if (::access(name, F_OK) == 0 && ::access(name, W_OK) != 0 && errno_means_denied(errno)) {
    return true;
  }
  // unlink, not remove: an empty directory of that name is no file to replace.
  if (::unlink(name) == 0) return false;
  return errno_means_denied(errno);
}

int open_image(Context& ctx, int recreate) {
  close_image(ctx);
  if (recreate) {
    if (remove_denied(ctx.image_name)) return report_error(ERR_ACCESS_WRITE, ctx.image_name);
    std::FILE* created = std::fopen(ctx.image_name, "a+b");
    if (created == nullptr) return report_error(ERR_OPEN_WRITE, ctx.image_name);
    std::fclose(created);
  }
  ctx.image = std::fopen(ctx.image_name, "r+b");
  if (ctx.image == nullptr) return report_error(ERR_OPEN_WRITE, ctx.image_name);
  if (alloc_zeroed(ctx.image_stream_buffer, STREAM_BUFFER_SIZE) != 0) return ERR_OUT_OF_MEMORY;
  std::setvbuf(ctx.image, reinterpret_cast<char*>(ctx.image_stream_buffer), _IOFBF,
               STREAM_BUFFER_SIZE);
  struct stat identity {};  // stays zero, matching no file, if it cannot be told
  ::fstat(::fileno(ctx.image), &identity);
  ctx.image_device = identity.st_dev;
  ctx.image_inode = identity.st_ino;
  ctx.image_length = -1;
  ctx.image_position = 0;
  ctx.image_last_op = StreamOp::none;
  return 0;
}

int close_image(Context& ctx) {
  if (ctx.image != nullptr) {
    std::fclose(ctx.image);
    ctx.image = nullptr;
  }
  release(ctx.image_stream_buffer);
  forget_position(ctx);
  return 0;
}

int check_image_range(Context& ctx, long offset, int length) {
  if (ctx.image_length < 0) {
    const long size = measure_length(ctx.image);
    forget_position(ctx);
    if (size == -2) return report_error(ERR_ACCESS_READ, ctx.image_name);
    if (size < 0) return report_error(ERR_FILE_LENGTH, ctx.image_name);
    ctx.image_length = size;
  }
  if (ctx.image_length <= offset || ctx.image_length < offset + length) {
    return report_error(ERR_READ_BEYOND_END, ctx.image_name);
  }
  return 0;
}

int read_image_at(Context& ctx, void* buffer, long offset, int length) {
  const int result = check_image_range(ctx, offset, length);
  if (result != 0) return result;
  // The stream needs a positioning call between a write and a read.
  if (ctx.image_position != offset || ctx.image_last_op == StreamOp::write) {
    const int moved = reposition(ctx, offset, ERR_ACCESS_READ);
    if (moved != 0) return moved;
  }
  ctx.image_last_op = StreamOp::read;
  if (std::fread(buffer, 1, static_cast<std::size_t>(length), ctx.image) !=
      static_cast<std::size_t>(length)) {
    forget_position(ctx);
    return report_error(ERR_READ, ctx.image_name);
  }
  ctx.image_position = offset + length;
  return 0;
}

int write_image_at(Context& ctx, const void* buffer, long offset, int length) {
  if (length <= 0) return 0;
  if (ctx.image_position != offset || ctx.image_last_op == StreamOp::read) {
    const int moved = reposition(ctx, offset, ERR_ACCESS_WRITE);
    if (moved != 0) return moved;
  }
  ctx.image_last_op = StreamOp::write;
  if (std::fwrite(buffer, 1, static_cast<std::size_t>(length), ctx.image) !=
      static_cast<std::size_t>(length)) {
    forget_position(ctx);
    return report_error(ERR_WRITE, ctx.image_name);
  }
  ctx.image_position = offset + length;
  if (ctx.image_length >= 0 && ctx.image_position > ctx.image_length) {
    ctx.image_length = ctx.image_position;
  }
  return 0;
}

int flush_image(Context& ctx) {
  if (ctx.image == nullptr) return 0;
  if (std::fflush(ctx.image) != 0 || std::ferror(ctx.image)) {
    forget_position(ctx);
    return report_error(ERR_WRITE, ctx.image_name);
  }
  return 0;
}

int read_host_file(const char* name, std::uint8_t* buffer, int max) {
  FileGuard file(std::fopen(name, "rb"));
  // A directory opens for reading here, but is no file to read.
  if (!file || is_directory(file.get())) return report_error(ERR_OPEN_READ, name);
  const long size = measure_length(file.get());
  if (size == -2) return report_error(ERR_ACCESS_READ, name);
  if (size < 0) return report_error(ERR_FILE_LENGTH, name);
  if (size > max) return report_error(ERR_SOURCE_TOO_LONG, name, max);
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return report_error(ERR_ACCESS_READ, name);
  if (std::fread(buffer, 1, static_cast<std::size_t>(size), file.get()) !=
      static_cast<std::size_t>(size)) {
    return report_error(ERR_READ, name);
  }
  return static_cast<int>(size);
}

int write_host_file(const char* name, const std::uint8_t* buffer, int length, int append) {
  if (length <= 0) return 0;
  FileGuard file(std::fopen(name, append ? "ab" : "wb"));
  if (!file) return report_error(ERR_OPEN_WRITE, name);
  if (!append && std::fseek(file.get(), 0, SEEK_SET) != 0) {
    return report_error(ERR_ACCESS_WRITE, name);
  }
  if (std::fwrite(buffer, 1, static_cast<std::size_t>(length), file.get()) !=
      static_cast<std::size_t>(length)) {
    return report_error(ERR_WRITE, name);
  }
  if (!close_written(file)) return report_error(ERR_WRITE, name);
  return 0;
}

int copy_host_file(const char* target, const char* source) {
  if (remove_denied(target)) return report_error(ERR_ACCESS_WRITE, target);
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
    if (std::fwrite(piece.data(), 1, n, out.file.get()) != n) return report_error(ERR_WRITE, target);
    remaining -= static_cast<long>(n);
  }
  in.file.reset();
  if (!close_written(out.file)) return report_error(ERR_WRITE, target);
  return 0;
}

// Every byte the tool reads or writes passes through these primitives. Each
// reports its own failure with the file's name and returns the negative code.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "cli/context.h"
#include "cli/modes.h"

// Stream buffers for host files: large enough that copying takes few system
// calls, small enough to cost little to set up.
constexpr std::size_t STREAM_BUFFER_SIZE = 1 << 16;

// How long a run waits for another run that holds the image, in milliseconds.
constexpr int IMAGE_LOCK_WAIT_MS = 10000;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
// Closes a host file on every path; writers close it through close_written.
using FileGuard = std::unique_ptr<std::FILE, FileCloser>;

// A host file stream with a buffer of its own that outlives the stream.
struct BufferedFile {
  std::vector<char> buffer;
  FileGuard file;
};
// Opens a host file with a buffer of `buffer_size` bytes (0: unbuffered, for
// reads that go straight into a buffer of the caller's).
bool open_buffered(BufferedFile& stream, const char* name, const char* mode,
    std::size_t buffer_size = STREAM_BUFFER_SIZE);

// Directories open for reading on this host, but are no files to read.
bool is_directory(std::FILE* file);

// Does `path` name the open image itself (under any name)?
bool is_open_image(const Context& ctx, const char* path);

// Closes a file that was written; false when buffered data could not be
// stored (the error shows only at flush or close).
bool close_written(FileGuard& file);

// Does this command change the image? Such a run locks it exclusively.
bool command_writes_image(const Context& ctx);

// Opens the image for reading and writing and locks it (exclusively for a
// command that changes it, shared otherwise), waiting for another run that
// holds it. A change that a killed run left half-done is rolled back first.
// With RECREATE the file is created when missing, and an existing file
// that may not be replaced is refused (ERR_ACCESS_WRITE). An image already open
// and locked stays open, so a command that commits several times (-fl)
// holds it throughout. OPEN_AS_FOUND leaves side files alone (and opens the
// image read-only for a command that does not change it). 0 or the reported error.
int open_image(Context& ctx, ImageOpening opening);
// Closes the image (releasing its lock) and forgets what was learnt of it;
// harmless when it is closed. Always 0.
int close_image(Context& ctx);
// Reads exactly `length` bytes at `offset`; ERR_READ_BEYOND_END when the
// image is shorter.
int read_image_at(Context& ctx, void* buffer, long offset, int length);
// The range test of read_image_at alone: 0 when the image holds the range.
int check_image_range(Context& ctx, long offset, int length);
// Length of the open image file, or the reported error.
long image_file_length(Context& ctx);

// Reads a whole host file of at most `max` bytes; its length or an error.
// The file is read to its end, so files whose length cannot be measured by
// seeking (pipes, /proc) are taken whole or refused as too long.
int read_host_file(const char* name, std::uint8_t* buffer, int max);
// Writes `length` bytes to a new (or emptied) file, or appends them; for
// length <= 0 nothing, and no file. 0 or the reported error.
int write_host_file(const char* name, const std::uint8_t* buffer, int length, WriteMode mode);
// Replaces `target` by a copy of `source` (ERR_ACCESS_WRITE when the old
// target may not be deleted). 0 or the reported error.
int copy_host_file(const char* target, const char* source);

// Names of the side files that a change of `image` may leave for a moment.
std::string journal_name(const char* image);
std::string new_image_name(const char* image);
std::string temporary_copy_name(const char* image);
std::string backup_name(const char* image);

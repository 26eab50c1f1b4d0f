// File access: every byte the tool reads or writes passes through these
// primitives, on top of the platform layer. Each reports its own failure with
// the file's name and returns the negative code.
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

// Opens the image file: the file its name resolves to (ctx.image_path), for
// reading and writing or, for a run that only reads, for reading alone; and
// locks it, exclusively or shared, waiting up to IMAGE_LOCK_WAIT_MS for a run
// that holds it. With RECREATE the file is made when missing, and an
// existing one that may not be replaced is refused (ERR_ACCESS_WRITE).
// Nothing beside the image is looked at here. 0 or the reported error.
int open_image_file(Context& ctx, ImageOpening opening, bool exclusive);
// May this run open the image file for writing?
bool image_writable(const Context& ctx);
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
// Writes `length` bytes (0 and more) as the file `name`, made or emptied.
// An existing link, a file with a second name or anything but a plain file
// at `name` is refused (ERR_OPEN_WRITE), never written through; a file cut
// short by a failed write is removed. Its identity goes to `written`.
int write_output_file(
    const char* name, const std::uint8_t* data, int length, FileIdentity* written = nullptr);
// write_output_file for `length` bytes of the open image from `offset` on.
int write_image_range(Context& ctx, const char* name, long offset, long length);
// write_output_file for length > 0; for length <= 0 nothing, and no file.
int write_host_file(const char* name, const std::uint8_t* buffer, int length);
// Writes `length` bytes to a new file `directory` + `prefix` + a unique
// suffix, which only this user may read; its name goes to `path`. False,
// with nothing left behind and nothing reported, when that fails.
bool write_temporary_file(const std::string& directory, const char* prefix,
    const std::uint8_t* data, int length, std::string& path);
// Replaces `target` by a copy of `source` (ERR_ACCESS_WRITE when the old
// target may not be deleted); the copy is made where nothing stands, so a
// link planted at `target` is never followed. 0 or the reported error.
int copy_host_file(const char* target, const char* source);

// Names of the side files of the image at `image` (a resolved path): the
// journal of a change in place, the previous image -ir keeps while it
// switches, the backup a repair keeps, and the beginning of the unique name
// a whole new image is built under.
std::string journal_name(const char* image);
std::string temporary_copy_name(const char* image);
std::string backup_name(const char* image);
std::string new_image_prefix(const char* image);
// New images a killed -ic or -ir left beside the image: plain files under a
// name new_image_prefix and six letters or digits give; with `mine_only`,
// those of this run's user alone (the ones it may remove).
std::vector<std::string> stale_new_images(const char* image, bool mine_only);

// Every call into the operating system that the tool makes beyond the
// standard library lives behind these functions (platform_posix.cpp and
// platform_windows.cpp; the build picks one). Nothing here reports errors:
// callers decide what a failure means and report it through report_error.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
constexpr bool HOST_IS_WINDOWS = true;
// The current-directory prefix this host uses where a path has no directory.
constexpr const char* CURRENT_DIR_PREFIX = ".\\";
// Line end of the text files the tool writes.
constexpr const char* HOST_LINE_END = "\r\n";
#else
constexpr bool HOST_IS_WINDOWS = false;
constexpr const char* CURRENT_DIR_PREFIX = "./";
constexpr const char* HOST_LINE_END = "\n";
#endif

// The command line as UTF-8 strings. Windows hands a program its arguments
// in the ANSI code page, which loses characters; there they are taken from
// the wide command line instead.
std::vector<std::string> host_arguments(int argc, char** argv);

// Names are printed as UTF-8, which a Windows console shows right only in
// its UTF-8 output code page. The console outlives the run, so its own code
// page is given back when the guard ends (and before a Ctrl+C ends the run).
class ConsoleOutputUtf8 {
 public:
  ConsoleOutputUtf8();
  ~ConsoleOutputUtf8();
  ConsoleOutputUtf8(const ConsoleOutputUtf8&) = delete;
  ConsoleOutputUtf8& operator=(const ConsoleOutputUtf8&) = delete;
};

// Makes sure that standard input, output and error are open before anything
// else is: a caller that closed one (vemtool ... 2>&-) would otherwise see
// the next file opened, the image, take its number and receive messages.
// A closed one is taken by the null device opened the other way round, so
// that it still fails to read or write as a closed one does. Where that
// cannot be done the process ends at once with EXIT_NO_STREAMS.
void occupy_closed_standard_streams();
constexpr int EXIT_NO_STREAMS = 14;  // as for output that cannot be written

// Are standard input and standard output both a terminal (a console)? Only
// then is a person there to answer the pager.
bool interactive_console();

// std::fopen for a UTF-8 path (Windows opens it through the wide-character
// API, so names outside the ANSI code page work).
std::FILE* open_host_stream(const char* path, const char* mode);

// Which file a path or an open file is, independent of its name. Two known
// identities are equal exactly when they are the same file.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::uint64_t index = 0;
  bool known = false;
};
inline bool same_identity(const FileIdentity& a, const FileIdentity& b) {
  return a.known && b.known && a.volume == b.volume && a.index == b.index;
}
FileIdentity identity_of_path(const char* path);
FileIdentity identity_of_stream(std::FILE* file);

bool path_exists(const char* path);  // through links
bool path_is_directory(const char* path);
bool stream_is_directory(std::FILE* file);
// Is there anything at all at `path`, a dangling link included?
bool name_exists(const char* path);

// The file a path names once links in its last component are followed (on
// Windows its final name: short names, a trailing point and case resolved),
// kept relative where the path is. The path itself when nothing resolves.
std::string resolved_path(const char* path);

// Directory of the running executable with its final separator; empty when
// the host cannot tell (some BSDs without /proc).
std::string executable_directory();

enum class RemoveOutcome { removed, denied, failed };
// Deletes a file (never a directory). A read-only file counts as denied, as
// on hosts that refuse to delete one; no file there, as failed: no caller
// needs to tell the two apart.
RemoveOutcome remove_file(const char* path);

// Would deleting this existing file be refused (a read-only file, or a
// directory that does not let its names change)? False for a missing file.
bool removal_refused(const char* path);

// Replaces `target` by `source` in one step; false when the host refuses.
// Windows refuses while another program holds the target open: it is tried
// again for up to `wait_ms`.
bool replace_file(const char* source, const char* target, int wait_ms);

// Windows refuses to replace a file that is open, even by the replacing process.
constexpr bool HOST_REPLACES_OPEN_FILES = !HOST_IS_WINDOWS;

// Gives the file `existing` the second name `name` (never an existing one);
// false where the host or the file system has no such names.
bool link_file(const char* existing, const char* name);

// Creates a new directory; false when the name exists or the directory
// cannot be made. remove_directory removes an empty one.
bool make_directory(const char* path);
bool remove_directory(const char* path);

// The system's directory for temporary files, with a final separator.
std::string temporary_directory();

// What the side files and output files are checked for, and what a rebuilt
// image carries over from its predecessor.
struct FileStatus {
  bool known = false;
  bool regular = false;    // a plain file: no directory, device, pipe or link
  std::uint32_t mode = 0;  // permission bits (Windows: 0444 read-only, else 0666)
  std::uint32_t owner = 0;
  std::uint32_t group = 0;
  std::uint32_t links = 0;  // the names it has
  FileIdentity identity;
};
FileStatus status_of(const char* path);  // through links
// The user this run acts for; ownership is not checked on Windows.
std::uint32_t current_user();
constexpr bool HOST_HAS_OWNERS = !HOST_IS_WINDOWS;

// An open file addressed by byte offset, without stream buffering.
struct OsFile {
  std::intptr_t handle = -1;  // a descriptor, or a Windows HANDLE
};
enum class OpenMode {
  read_only,          // an existing file; the user named it, links are followed
  read_write,         // the same, for update
  create_read_write,  // the same, made when missing
  create_exclusive,   // a new file that nothing may stand at yet (side files)
  read_no_follow,     // an existing file, never through a link
  write_no_follow,    // made or opened (not emptied) for writing, never through
                      // a link, never waiting for a reader (output files)
};
// Made files get `permissions` (less what the user's mask takes away).
bool os_open(OsFile& file, const char* path, OpenMode mode, std::uint32_t permissions = 0666);
void os_close(OsFile& file);
bool os_is_open(const OsFile& file);
// Creates `prefix` + a unique suffix exclusively (as create_exclusive) and
// leaves it open in `file`; its name goes to `path`.
bool make_unique_file(
    const std::string& prefix, std::uint32_t permissions, OsFile& file, std::string& path);
// Bytes transferred (all of `length` unless the file ends or fails), or -1.
long os_read_at(const OsFile& file, void* buffer, long length, long offset);
long os_write_at(const OsFile& file, const void* buffer, long length, long offset);
long os_size(const OsFile& file);  // -1 when it cannot be told
bool os_truncate(const OsFile& file, long length);
bool os_sync(const OsFile& file);
// Makes the names in a directory (created, renamed, removed) durable.
void os_sync_directory_of(const char* path);
FileIdentity os_identity(const OsFile& file);
FileStatus os_status(const OsFile& file);
// Gives the file the permission bits and, where the process may, the owner.
void os_apply_mode(const OsFile& file, const FileStatus& status);

// A clock that only goes forward, in milliseconds, and a pause: a run that
// waits for another spends and measures its time through these.
long long monotonic_ms();
void pause_ms(int ms);

enum class LockOutcome { locked, busy, failed };
// Locks the whole file, shared or exclusive, if no other holder is in the
// way. The lock goes with the handle: closing it (or the process ending)
// releases it.
LockOutcome os_lock(const OsFile& file, bool exclusive);

// Holds back the signals that ask a run to stop (interrupt, terminate,
// hang-up, broken pipe) while a change is being written, so that it is never
// left half-way; a held-back signal takes effect when the guard ends.
class StopSignalsHeld {
 public:
  StopSignalsHeld();
  ~StopSignalsHeld();
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
  alignas(8) unsigned char saved_[256];  // the host's signal mask
};

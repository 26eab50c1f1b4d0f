// The POSIX form of the platform layer (Linux; macOS and the BSDs untested).
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "image/platform.h"

#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

namespace {

bool errno_means_denied(int error) {
  return error == EACCES || error == EPERM || error == EROFS || error == EBUSY || error == ETXTBSY;
}

FileIdentity identity_from(const struct stat& status) {
  FileIdentity identity;
  identity.volume = static_cast<std::uint64_t>(status.st_dev);
  identity.index = static_cast<std::uint64_t>(status.st_ino);
  identity.known = true;
  return identity;
}

FileStatus status_from(const struct stat& status) {
  FileStatus file;
  file.known = true;
  file.regular = S_ISREG(status.st_mode);
  file.mode = static_cast<std::uint32_t>(status.st_mode & 07777);
  file.owner = static_cast<std::uint32_t>(status.st_uid);
  file.group = static_cast<std::uint32_t>(status.st_gid);
  file.links = static_cast<std::uint32_t>(status.st_nlink);
  file.identity = identity_from(status);
  return file;
}

int fd_of(const OsFile& file) { return static_cast<int>(file.handle); }

std::string directory_part(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

std::vector<std::string> host_arguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

void occupy_closed_standard_streams() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower numbers are open by now, so the null device gets `fd`. Without
    // one (a bare chroot) the run cannot keep its output out of the image.
    if (::open("/dev/null", fd == 0 ? O_WRONLY : O_RDONLY) != fd) std::_Exit(EXIT_NO_STREAMS);
  }
}

bool interactive_console() { return ::isatty(0) == 1 && ::isatty(1) == 1; }

std::FILE* open_host_stream(const char* path, const char* mode) { return std::fopen(path, mode); }

FileIdentity identity_of_path(const char* path) {
  struct stat status {};
  if (::stat(path, &status) != 0) return {};
  return identity_from(status);
}

FileIdentity identity_of_stream(std::FILE* file) {
  struct stat status {};
  if (file == nullptr || ::fstat(::fileno(file), &status) != 0) return {};
  return identity_from(status);
}

bool path_exists(const char* path) { return ::access(path, F_OK) == 0; }

bool name_exists(const char* path) {
  struct stat status {};
  return ::lstat(path, &status) == 0;
}

std::string resolved_path(const char* path) {
  std::string current(path);
  for (int hops = 0; hops < 40; ++hops) {  // as many as the kernel follows
    std::array<char, PATH_MAX> target{};
    const ssize_t length = ::readlink(current.c_str(), target.data(), target.size() - 1);
    if (length <= 0) return current;  // no link: the file itself
    std::string next(target.data(), static_cast<std::size_t>(length));
    current = next[0] == '/' ? next : directory_part(current) + next;
  }
  return current;
}

bool path_is_directory(const char* path) {
  struct stat status {};
  return ::stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

bool stream_is_directory(std::FILE* file) {
  struct stat status {};
  return ::fstat(::fileno(file), &status) == 0 && S_ISDIR(status.st_mode);
}

std::string executable_directory() {
  std::array<char, 4096> target{};
#if defined(__APPLE__)
  std::uint32_t size = target.size();
  if (_NSGetExecutablePath(target.data(), &size) != 0) return "";
  std::array<char, PATH_MAX> resolved{};
  if (::realpath(target.data(), resolved.data()) == nullptr) return "";
  return directory_part(resolved.data());
#else
  // Linux has /proc/self/exe; the BSDs mount /proc only optionally, so
  // their answer may be empty, and the tool then looks elsewhere.
  const ssize_t length = ::readlink("/proc/self/exe", target.data(), target.size() - 1);
  if (length <= 0) return "";
  return directory_part(std::string(target.data(), static_cast<std::size_t>(length)));
#endif
}

RemoveOutcome remove_file(const char* path) {
  if (::access(path, F_OK) == 0 && ::access(path, W_OK) != 0 && errno_means_denied(errno)) {
    return RemoveOutcome::denied;
  }
  // unlink, not remove: an empty directory of that name is no file to replace.
  if (::unlink(path) == 0) return RemoveOutcome::removed;
  return errno_means_denied(errno) ? RemoveOutcome::denied : RemoveOutcome::failed;
}

bool removal_refused(const char* path) {
  if (::access(path, F_OK) != 0) return false;
  if (::access(path, W_OK) != 0 && errno_means_denied(errno)) return true;
  std::string directory = directory_part(path);
  if (directory.empty()) directory = ".";
  return ::access(directory.c_str(), W_OK) != 0 && errno_means_denied(errno);
}

// Open files do not stand in the way here.
bool replace_file(const char* source, const char* target, int) {
  return std::rename(source, target) == 0;
}

bool link_file(const char* existing, const char* name) { return ::link(existing, name) == 0; }

bool make_directory(const char* path) { return ::mkdir(path, 0777) == 0; }

bool remove_directory(const char* path) { return ::rmdir(path) == 0; }

bool make_unique_file(
    const std::string& prefix, std::uint32_t permissions, OsFile& file, std::string& path) {
  constexpr const char* LETTERS = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t seed =
      (static_cast<std::uint64_t>(::getpid()) << 32) ^
      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix;
    for (int i = 0; i < 6; ++i) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      candidate += LETTERS[(seed >> 33) % 62];
    }
    if (os_open(file, candidate.c_str(), OpenMode::create_exclusive, permissions)) {
      path = candidate;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

std::string temporary_directory() {
  const char* from_environment = std::getenv("TMPDIR");
  std::string directory =
      from_environment != nullptr && *from_environment != '\0' ? from_environment : "/tmp";
  if (directory.back() != '/') directory += '/';
  return directory;
}

FileStatus status_of(const char* path) {
  struct stat status {};
  if (::stat(path, &status) != 0) return {};
  return status_from(status);
}

std::uint32_t current_user() { return static_cast<std::uint32_t>(::geteuid()); }

bool os_open(OsFile& file, const char* path, OpenMode mode, std::uint32_t permissions) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case OpenMode::read_only:
      flags |= O_RDONLY;
      break;
    case OpenMode::read_write:
      flags |= O_RDWR;
      break;
    case OpenMode::create_read_write:
      flags |= O_RDWR | O_CREAT;
      break;
    case OpenMode::create_exclusive:
      flags |= O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW;
      break;
    case OpenMode::read_no_follow:
      flags |= O_RDONLY | O_NOFOLLOW | O_NONBLOCK;
      break;
    case OpenMode::write_no_follow:
      flags |= O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK;
      break;
  }
  int fd = -1;
  do {
    fd = ::open(path, flags, static_cast<mode_t>(permissions));
  } while (fd < 0 && errno == EINTR);
  file.handle = fd;
  return fd >= 0;
}

void os_close(OsFile& file) {
  if (file.handle >= 0) ::close(fd_of(file));
  file.handle = -1;
}

bool os_is_open(const OsFile& file) { return file.handle >= 0; }

long os_read_at(const OsFile& file, void* buffer, long length, long offset) {
  long done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (done < length) {
    const ssize_t n = ::pread(fd_of(file), bytes + done, static_cast<std::size_t>(length - done),
        static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += n;
  }
  return done;
}

long os_write_at(const OsFile& file, const void* buffer, long length, long offset) {
  long done = 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (done < length) {
    const ssize_t n = ::pwrite(fd_of(file), bytes + done, static_cast<std::size_t>(length - done),
        static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return -1;
    done += n;
  }
  return done;
}

long os_size(const OsFile& file) {
  struct stat status {};
  if (::fstat(fd_of(file), &status) != 0) return -1;
  return static_cast<long>(status.st_size);
}

bool os_truncate(const OsFile& file, long length) {
  return ::ftruncate(fd_of(file), static_cast<off_t>(length)) == 0;
}

// The data and what reading it back needs (the length), not the times: an
// image changed in place then costs one flush of its data, not a metadata commit too.
bool os_sync(const OsFile& file) {
#if defined(__linux__)
  return ::fdatasync(fd_of(file)) == 0;
#else
  return ::fsync(fd_of(file)) == 0;
#endif
}

void os_sync_directory_of(const char* path) {
  std::string directory = directory_part(path);
  if (directory.empty()) directory = ".";
  const int fd = ::open(directory.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // some file systems refuse: the names are then as durable as they get
  ::close(fd);
}

FileIdentity os_identity(const OsFile& file) {
  struct stat status {};
  if (::fstat(fd_of(file), &status) != 0) return {};
  return identity_from(status);
}

FileStatus os_status(const OsFile& file) {
  struct stat status {};
  if (::fstat(fd_of(file), &status) != 0) return {};
  return status_from(status);
}

void os_apply_mode(const OsFile& file, const FileStatus& status) {
  if (!status.known) return;
  // Owner first: a change of owner may clear the set-id bits set after it.
  const auto group = static_cast<gid_t>(status.group);
  // Not permitted for this user: the group alone may still be kept; failing
  // that too, the file stays the user's own.
  const bool kept = ::fchown(fd_of(file), static_cast<uid_t>(status.owner), group) == 0 ||
                    ::fchown(fd_of(file), static_cast<uid_t>(-1), group) == 0;
  static_cast<void>(kept);
  (void)::fchmod(fd_of(file), static_cast<mode_t>(status.mode));
}

long long monotonic_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void pause_ms(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

LockOutcome os_lock(const OsFile& file, bool exclusive) {
  for (;;) {
    if (::flock(fd_of(file), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0)
      return LockOutcome::locked;
    if (errno == EWOULDBLOCK) return LockOutcome::busy;
    if (errno != EINTR) return LockOutcome::failed;
  }
}

// Terminals take the bytes as they come: nothing to switch.
ConsoleOutputUtf8::ConsoleOutputUtf8() = default;
ConsoleOutputUtf8::~ConsoleOutputUtf8() = default;

StopSignalsHeld::StopSignalsHeld() : saved_{} {
  static_assert(sizeof(sigset_t) <= sizeof(saved_), "signal mask storage too small");
  sigset_t stop{};
  sigemptyset(&stop);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT})
    sigaddset(&stop, signal_number);
  sigprocmask(SIG_BLOCK, &stop, reinterpret_cast<sigset_t*>(saved_));
}

StopSignalsHeld::~StopSignalsHeld() {
  sigprocmask(SIG_SETMASK, reinterpret_cast<sigset_t*>(saved_), nullptr);
}

// The Windows form of the platform layer.
#ifndef NOMINMAX
#define NOMINMAX
#endif
// windows.h first: the other Windows headers build on it.
#include <windows.h>
// clang-format off
#include <shellapi.h>
#include <fcntl.h>
#include <io.h>
// clang-format on

#include <array>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "image/platform.h"

namespace {

// Every path the tool holds is UTF-8; Windows takes UTF-16. Bytes that are
// no UTF-8 are read in the ANSI code page, as the narrow API would.
std::wstring widen(const char* text) {
  for (const UINT code_page : {static_cast<UINT>(CP_UTF8), static_cast<UINT>(CP_ACP)}) {
    const DWORD flags = code_page == CP_UTF8 ? MB_ERR_INVALID_CHARS : 0;
    const int length = MultiByteToWideChar(code_page, flags, text, -1, nullptr, 0);
    if (length <= 0) continue;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(code_page, flags, text, -1, wide.data(), length);
    wide.pop_back();  // the terminator
    return wide;
  }
  return std::wstring();
}

std::string narrow(const wchar_t* text) {
  const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string utf8(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
  utf8.pop_back();
  return utf8;
}

HANDLE handle_of(const OsFile& file) { return reinterpret_cast<HANDLE>(file.handle); }

// Other runs may rename or delete a file this one holds open: the commit
// puts a new image in place of the one it has open.
constexpr DWORD SHARE_ALL = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

FileIdentity identity_of_handle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return {};
  FileIdentity identity;
  identity.volume = info.dwVolumeSerialNumber;
  identity.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.known = true;
  return identity;
}

FileStatus status_of_handle(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return {};
  FileStatus status;
  status.known = true;
  status.regular =
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0 &&
      GetFileType(handle) == FILE_TYPE_DISK;
  status.links = info.nNumberOfLinks;
  status.identity.volume = info.dwVolumeSerialNumber;
  status.identity.index =
      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  status.identity.known = true;
  // No mode bits here: the read-only attribute stands for them.
  status.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0666;
  return status;
}

DWORD attributes_of(const char* path) { return GetFileAttributesW(widen(path).c_str()); }

std::string directory_part(const std::string& path) {
  const std::size_t separator = path.find_last_of("/\\");
  return separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
}

bool error_means_denied(DWORD error) {
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION ||
         error == ERROR_LOCK_VIOLATION || error == ERROR_WRITE_PROTECT;
}

// The lock covers one byte far beyond any image: Windows locks are
// mandatory, so a lock on the data would also bar this run's own reads
// through other handles.
constexpr DWORD LOCK_OFFSET_HIGH = 0x40000000;

// The console's output code page before this run switched it; 0: unchanged.
std::atomic<UINT> saved_code_page{0};

void restore_console_code_page() {
  const UINT previous = saved_code_page.exchange(0);
  if (previous != 0) SetConsoleOutputCP(previous);
}

std::atomic<bool> stop_held{false};
std::atomic<bool> stop_asked{false};

BOOL WINAPI hold_stop(DWORD event) {
  if (!stop_held.load()) return FALSE;
  stop_asked.store(true);
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
  // A closed console ends the process once this returns: let the change end first.
  while (stop_held.load()) Sleep(10);
  return FALSE;
}

}  // namespace

std::vector<std::string> host_arguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr || count != argc) {
    if (wide != nullptr) LocalFree(wide);
    return std::vector<std::string>(argv, argv + argc);
  }
  std::vector<std::string> arguments;
  for (int i = 0; i < count; ++i) arguments.push_back(narrow(wide[i]));
  LocalFree(wide);
  return arguments;
}

ConsoleOutputUtf8::ConsoleOutputUtf8() {
  const UINT previous = GetConsoleOutputCP();  // 0: no console
  if (previous != 0 && previous != CP_UTF8 && SetConsoleOutputCP(CP_UTF8)) {
    saved_code_page.store(previous);
  }
}

ConsoleOutputUtf8::~ConsoleOutputUtf8() { restore_console_code_page(); }

void occupy_closed_standard_streams() {
  // The C runtime hands out the lowest free descriptor, as POSIX does.
  for (int fd = 0; fd <= 2; ++fd) {
    const intptr_t handle = _get_osfhandle(fd);
    if (handle != -1 && handle != -2) continue;
    const int opened = _wopen(L"NUL", fd == 0 ? _O_WRONLY : _O_RDONLY);
    if (opened < 0) std::_Exit(EXIT_NO_STREAMS);
    if (opened != fd) {
      _dup2(opened, fd);
      _close(opened);
    }
  }
}

bool interactive_console() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) &&
         GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode);
}

std::FILE* open_host_stream(const char* path, const char* mode) {
  return _wfopen(widen(path).c_str(), widen(mode).c_str());
}

FileIdentity identity_of_path(const char* path) {
  // No access rights are asked: only the file's identity is read.
  HANDLE handle = CreateFileW(widen(path).c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  const FileIdentity identity = identity_of_handle(handle);
  CloseHandle(handle);
  return identity;
}

FileIdentity identity_of_stream(std::FILE* file) {
  if (file == nullptr) return {};
  return identity_of_handle(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file))));
}

bool path_exists(const char* path) { return attributes_of(path) != INVALID_FILE_ATTRIBUTES; }

bool name_exists(const char* path) { return attributes_of(path) != INVALID_FILE_ATTRIBUTES; }

std::string resolved_path(const char* path) {
  HANDLE handle = CreateFileW(widen(path).c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return path;
  std::wstring final_name(32768, L'\0');
  const DWORD length = GetFinalPathNameByHandleW(
      handle, final_name.data(), static_cast<DWORD>(final_name.size()), FILE_NAME_NORMALIZED);
  CloseHandle(handle);
  if (length == 0 || length >= final_name.size()) return path;
  final_name.resize(length);
  // The final name's last component beside the directory as the user gave it.
  const std::string resolved = narrow(final_name.c_str());
  return directory_part(path) + resolved.substr(resolved.find_last_of('\\') + 1);
}

bool path_is_directory(const char* path) {
  const DWORD attributes = attributes_of(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool stream_is_directory(std::FILE* file) {
  BY_HANDLE_FILE_INFORMATION info{};
  const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return GetFileInformationByHandle(handle, &info) &&
         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string executable_directory() {
  std::wstring path(32768, L'\0');
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return "";
  path.resize(length);
  return directory_part(narrow(path.c_str()));
}

RemoveOutcome remove_file(const char* path) {
  const std::wstring wide = widen(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    return error_means_denied(GetLastError()) ? RemoveOutcome::denied : RemoveOutcome::failed;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return RemoveOutcome::failed;
  if (attributes & FILE_ATTRIBUTE_READONLY) return RemoveOutcome::denied;
  if (DeleteFileW(wide.c_str())) return RemoveOutcome::removed;
  return error_means_denied(GetLastError()) ? RemoveOutcome::denied : RemoveOutcome::failed;
}

bool removal_refused(const char* path) {
  const DWORD attributes = attributes_of(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

bool replace_file(const char* source, const char* target, int wait_ms) {
  const long long deadline = monotonic_ms() + wait_ms;
  for (;;) {
    if (MoveFileExW(widen(source).c_str(), widen(target).c_str(),
            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return true;
    }
    // Another program (or a run waiting for the image) holds the target open.
    if (!error_means_denied(GetLastError()) || monotonic_ms() >= deadline) return false;
    pause_ms(20);
  }
}

bool link_file(const char* existing, const char* name) {
  return CreateHardLinkW(widen(name).c_str(), widen(existing).c_str(), nullptr) != 0;
}

bool make_directory(const char* path) {
  return CreateDirectoryW(widen(path).c_str(), nullptr) != 0;
}

bool remove_directory(const char* path) { return RemoveDirectoryW(widen(path).c_str()) != 0; }

bool make_unique_file(
    const std::string& prefix, std::uint32_t permissions, OsFile& file, std::string& path) {
  // One case: Windows names do not tell cases apart.
  constexpr const char* LETTERS = "abcdefghijklmnopqrstuvwxyz0123456789";
  std::uint64_t seed = (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^ GetTickCount64();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string candidate = prefix;
    for (int i = 0; i < 6; ++i) {
      seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
      candidate += LETTERS[(seed >> 33) % 36];
    }
    if (os_open(file, candidate.c_str(), OpenMode::create_exclusive, permissions)) {
      path = candidate;
      return true;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

std::string temporary_directory() {
  std::array<wchar_t, MAX_PATH + 2> buffer{};
  const DWORD length = GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (length == 0 || length >= buffer.size()) return ".\\";
  return narrow(buffer.data());
}

// Windows files carry no owner or mode bits that the tool could keep.
FileStatus status_of(const char* path) {
  HANDLE handle = CreateFileW(widen(path).c_str(), 0, SHARE_ALL, nullptr, OPEN_EXISTING,
      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return {};
  const FileStatus status = status_of_handle(handle);
  CloseHandle(handle);
  return status;
}

// Windows files carry no owner or mode bits that the tool could check or keep.
std::uint32_t current_user() { return 0; }

bool os_open(OsFile& file, const char* path, OpenMode mode, std::uint32_t permissions) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  DWORD flags = FILE_ATTRIBUTE_NORMAL;
  switch (mode) {
    case OpenMode::read_only:
      access = GENERIC_READ;
      break;
    case OpenMode::read_write:
      break;
    case OpenMode::create_read_write:
      disposition = OPEN_ALWAYS;
      break;
    case OpenMode::create_exclusive:
      disposition = CREATE_NEW;
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
      break;
    case OpenMode::read_no_follow:
      access = GENERIC_READ;
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
      break;
    case OpenMode::write_no_follow:
      access = GENERIC_WRITE;
      disposition = OPEN_ALWAYS;
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
      break;
  }
  // A file made without write permission for its owner starts read-only.
  if ((permissions & 0200) == 0) flags |= FILE_ATTRIBUTE_READONLY;
  HANDLE handle =
      CreateFileW(widen(path).c_str(), access, SHARE_ALL, nullptr, disposition, flags, nullptr);
  file.handle = handle == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(handle);
  return handle != INVALID_HANDLE_VALUE;
}

void os_close(OsFile& file) {
  if (os_is_open(file)) CloseHandle(handle_of(file));
  file.handle = -1;
}

bool os_is_open(const OsFile& file) { return file.handle != -1; }

long os_read_at(const OsFile& file, void* buffer, long length, long offset) {
  long done = 0;
  auto* bytes = static_cast<unsigned char*>(buffer);
  while (done < length) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    DWORD got = 0;
    if (!ReadFile(handle_of(file), bytes + done, static_cast<DWORD>(length - done), &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      return -1;
    }
    if (got == 0) break;
    done += static_cast<long>(got);
  }
  return done;
}

long os_write_at(const OsFile& file, const void* buffer, long length, long offset) {
  long done = 0;
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  while (done < length) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    DWORD put = 0;
    if (!WriteFile(handle_of(file), bytes + done, static_cast<DWORD>(length - done), &put, &at) ||
        put == 0) {
      return -1;
    }
    done += static_cast<long>(put);
  }
  return done;
}

long os_size(const OsFile& file) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_of(file), &size) || size.QuadPart > 0x7FFFFFFF) return -1;
  return static_cast<long>(size.QuadPart);
}

bool os_truncate(const OsFile& file, long length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = length;
  return SetFileInformationByHandle(handle_of(file), FileEndOfFileInfo, &end, sizeof(end)) != 0;
}

bool os_sync(const OsFile& file) { return FlushFileBuffers(handle_of(file)) != 0; }

// Names are made durable by MOVEFILE_WRITE_THROUGH; directories cannot be flushed here.
void os_sync_directory_of(const char*) {}

FileIdentity os_identity(const OsFile& file) { return identity_of_handle(handle_of(file)); }

FileStatus os_status(const OsFile& file) { return status_of_handle(handle_of(file)); }

void os_apply_mode(const OsFile&, const FileStatus&) {}

long long monotonic_ms() { return static_cast<long long>(GetTickCount64()); }

void pause_ms(int ms) { Sleep(static_cast<DWORD>(ms)); }

LockOutcome os_lock(const OsFile& file, bool exclusive) {
  // A lock is not converted in place on Windows: drop a shared one first.
  OVERLAPPED region{};
  region.OffsetHigh = LOCK_OFFSET_HIGH;
  UnlockFileEx(handle_of(file), 0, 1, 0, &region);
  const DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | LOCKFILE_FAIL_IMMEDIATELY;
  region = OVERLAPPED{};
  region.OffsetHigh = LOCK_OFFSET_HIGH;
  if (LockFileEx(handle_of(file), flags, 0, 1, 0, &region)) return LockOutcome::locked;
  const DWORD error = GetLastError();
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING ? LockOutcome::busy
                                                                    : LockOutcome::failed;
}

StopSignalsHeld::StopSignalsHeld() : saved_{} {
  saved_[0] = stop_held.exchange(true) ? 1 : 0;
  if (saved_[0] == 0) SetConsoleCtrlHandler(hold_stop, TRUE);
}

StopSignalsHeld::~StopSignalsHeld() {
  if (saved_[0] != 0) return;  // an outer guard still holds
  stop_held.store(false);
  SetConsoleCtrlHandler(hold_stop, FALSE);
  if (stop_asked.exchange(false)) {
    restore_console_code_page();
    ExitProcess(STATUS_CONTROL_C_EXIT);
  }
}

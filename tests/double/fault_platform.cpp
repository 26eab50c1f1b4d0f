// The real POSIX platform under other names, with the fault-injecting
// functions of fault_platform.h standing in front of those that change
// files, take locks or pass time.
#include "fault_platform.h"

#define os_open real_os_open
#define os_write_at real_os_write_at
#define os_truncate real_os_truncate
#define os_sync real_os_sync
#define os_sync_directory_of real_os_sync_directory_of
#define replace_file real_replace_file
#define link_file real_link_file
#define remove_file real_remove_file
#define make_unique_file real_make_unique_file
#define os_lock real_os_lock
#define monotonic_ms real_monotonic_ms
#define pause_ms real_pause_ms
#include "image/platform_posix.cpp"  // NOLINT(bugprone-suspicious-include)
#undef os_open
#undef os_write_at
#undef os_truncate
#undef os_sync
#undef os_sync_directory_of
#undef replace_file
#undef link_file
#undef remove_file
#undef make_unique_file
#undef os_lock
#undef monotonic_ms
#undef pause_ms

Fault& planned_fault() {
  static Fault fault;
  return fault;
}

namespace {

int counted = 0;
long long clock_offset = 0;

// Counts a call of this kind; true when the planned fault falls on it. A
// kill ends the process here, before the call, as SIGKILL would.
bool fault_here(FaultCalls kind) {
  const Fault& fault = planned_fault();
  if (fault.kind == FaultKind::none) return false;
  if (fault.calls != FaultCalls::changes && fault.calls != kind) return false;
  if (++counted != fault.at) return false;
  if (fault.kind == FaultKind::kill) std::_Exit(KILLED_STATUS);
  errno = EIO;
  return true;
}

bool creates(OpenMode mode) {
  return mode == OpenMode::create_read_write || mode == OpenMode::create_exclusive ||
         mode == OpenMode::write_no_follow;
}

}  // namespace

bool os_open(OsFile& file, const char* path, OpenMode mode, std::uint32_t permissions) {
  if (creates(mode) && fault_here(FaultCalls::changes)) return false;
  return real_os_open(file, path, mode, permissions);
}

long os_write_at(const OsFile& file, const void* buffer, long length, long offset) {
  if (length > 0 && fault_here(FaultCalls::writes)) {
    if (planned_fault().kind != FaultKind::short_write) return -1;
    // What a full disk leaves: part of the bytes written, then a failure.
    real_os_write_at(file, buffer, length / 2, offset);
    return -1;
  }
  return real_os_write_at(file, buffer, length, offset);
}

bool os_truncate(const OsFile& file, long length) {
  return !fault_here(FaultCalls::changes) && real_os_truncate(file, length);
}

bool os_sync(const OsFile& file) { return !fault_here(FaultCalls::syncs) && real_os_sync(file); }

void os_sync_directory_of(const char* path) {
  if (!fault_here(FaultCalls::syncs)) real_os_sync_directory_of(path);
}

bool replace_file(const char* source, const char* target, int wait_ms) {
  return !fault_here(FaultCalls::changes) && real_replace_file(source, target, wait_ms);
}

bool link_file(const char* existing, const char* name) {
  return !fault_here(FaultCalls::changes) && real_link_file(existing, name);
}

RemoveOutcome remove_file(const char* path) {
  return fault_here(FaultCalls::changes) ? RemoveOutcome::failed : real_remove_file(path);
}

bool make_unique_file(
    const std::string& prefix, std::uint32_t permissions, OsFile& file, std::string& path) {
  return !fault_here(FaultCalls::changes) && real_make_unique_file(prefix, permissions, file, path);
}

LockOutcome os_lock(const OsFile& file, bool exclusive) {
  if (planned_fault().busy_locks > 0) {
    --planned_fault().busy_locks;
    return LockOutcome::busy;
  }
  return real_os_lock(file, exclusive);
}

long long monotonic_ms() { return real_monotonic_ms() + clock_offset; }

void pause_ms(int ms) {
  if (planned_fault().time_flies) {
    clock_offset += ms;
  } else {
    real_pause_ms(ms);
  }
}

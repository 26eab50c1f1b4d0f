// The platform layer with faults on demand, for tests that run the tool
// inside their own process: the n-th call that changes a file can fail,
// write short, or end the process as a kill would; the image can seem held
// by another run; and waiting can take no time.
#pragma once

enum class FaultKind { none, kill, fail, short_write };
// Which calls count towards `at`: every call that changes a file (a write,
// sync, truncation, rename, link, removal or creation), or writes alone, or
// syncs alone.
enum class FaultCalls { changes, writes, syncs };

struct Fault {
  FaultKind kind = FaultKind::none;
  FaultCalls calls = FaultCalls::changes;
  int at = 0;               // the counted call it falls on, from 1
  int busy_locks = 0;       // lock attempts that find the image held by another run
  bool time_flies = false;  // pauses take no time: a wait for the image ends at once
};

// The fault of this process (tests fork a copy for each run).
Fault& planned_fault();

// The status of a run the fault ended, as a shell reports a SIGKILL.
constexpr int KILLED_STATUS = 128 + 9;

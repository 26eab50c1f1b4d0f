// Byte offsets of the fields that -ml patches into a Loader file, and how
// -ml and -li show them.
#pragma once

#include <cstdint>
#include <cstdio>

constexpr int LDR_JUMP_OPCODE = 0;
constexpr int LDR_JUMP_HIGH = 2;
constexpr int LDR_PIC_TYPE = 3;
constexpr int LDR_PIC_NAME = 4;
constexpr int LDR_CODE_TYPE = 12;
constexpr int LDR_CODE_NAME = 13;
constexpr int LDR_CODE_START = 21;
constexpr int LDR_FLAGS = 23;
constexpr int LDR_MON_TYPE = 24;
constexpr int LDR_MON_NAME = 25;

constexpr std::uint8_t LOADER_JUMP_OPCODE = 0xC3;
constexpr int LOADER_NO_CUSTOM_START = 0xFFFF;

// loader_flags: bits 0-1 select the monitor, then No Init and CLS suppressed.
constexpr int LOADER_MONITOR_MASK = 0x03;
constexpr int LOADER_MONITOR_FILE = 0x03;
constexpr int LOADER_NO_INIT = 0x04;
constexpr int LOADER_CLS_SUPPRESSED = 0x08;

// The "Load Monitor" line for `flags`, naming `file_name` for a monitor file;
// nothing when no monitor is selected.
inline void print_monitor(int flags, const char* file_name) {
  const int selection = flags & LOADER_MONITOR_MASK;
  if (selection == 0) return;
  if (selection == LOADER_MONITOR_FILE) {
    std::printf("Load Monitor: %s\n", file_name);
    return;
  }
  std::printf("Load Monitor: %s%s\n", (selection & 1) ? "MONIT1.?" : "MONIT2.?",
      (flags & LOADER_NO_INIT) ? " (No Init)" : "");
}

#include "cli/alloc.h"

int report_out_of_memory() { return report_error(ERR_OUT_OF_MEMORY); }

int alloc_zeroed(std::uint8_t*& slot, std::size_t size) {
  if (slot != nullptr) return 0;
  slot = new (std::nothrow) std::uint8_t[size]();
  return slot != nullptr ? 0 : report_out_of_memory();
}

int alloc_bytes(std::uint8_t*& slot, std::size_t size) {
  if (slot != nullptr) return 0;
  slot = new (std::nothrow) std::uint8_t[size];
  return slot != nullptr ? 0 : report_out_of_memory();
}

// Allocation that reports exhausted memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>

#include "cli/errors.h"

int report_out_of_memory();

// Fills an empty slot with `size` zero bytes; a slot already set is left alone.
int alloc_zeroed(std::uint8_t*& slot, std::size_t size);

// Same without the zeros, for a block that is filled at once.
int alloc_bytes(std::uint8_t*& slot, std::size_t size);

// Same for one zero-initialised plain record.
template <class T>
int alloc_zeroed(T*& slot) {
  if (slot != nullptr) return 0;
  slot = new (std::nothrow) T{};
  return slot != nullptr ? 0 : report_out_of_memory();
}

inline void release(std::uint8_t*& block) {
  delete[] block;
  block = nullptr;
}

template <class T>
void release(T*& record) {
  delete record;
  record = nullptr;
}

// Layout of a VEM image: 128-byte sectors holding a boot area (whose first
// 16 bytes carry the geometry), a directory of 32-byte entries and a data area.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr int SECTOR_SIZE = 128;
constexpr int DIR_ENTRY_SIZE = 32;
constexpr int ENTRIES_PER_SECTOR = SECTOR_SIZE / DIR_ENTRY_SIZE;

constexpr int BOOT_AREA_SIZE = 24576;      // 192 sectors: the largest Booter
constexpr int DIRECTORY_AREA_SIZE = 8192;  // 64 sectors, 256 entries
constexpr int WORK_BUFFER_SIZE = 65536;
constexpr int MAX_BOOT_SECTORS = BOOT_AREA_SIZE / SECTOR_SIZE;
constexpr int MAX_DIR_SECTORS = DIRECTORY_AREA_SIZE / SECTOR_SIZE;
constexpr int MAX_FILE_LENGTH = 65535;
constexpr int MAX_SECTOR_INDEX = 0xFFFF;

constexpr std::uint8_t EMPTY_ENTRY_FILL = 0xE5;
constexpr std::uint8_t FREE_SECTOR_FILL = 0xFF;

constexpr std::uint8_t ATTR_LIST = 0x01;
constexpr std::uint8_t ATTR_ALLRAM = 0x02;

// ImageHeader: byte offsets inside sector 0.
constexpr std::array<std::uint8_t, 5> BOOT_SIGNATURE = {0xCD, 0x00, 0x8C, 0x10, 0x00};
constexpr int HDR_JUMP_OPCODE = 9;
constexpr std::uint8_t JUMP_OPCODE = 0xC3;
constexpr int HDR_BOOT_SECTORS = 12;
constexpr int HDR_DIR_SECTORS = 13;
constexpr int HDR_LAST_SECTOR = 14;
constexpr int IMAGE_HEADER_SIZE = 16;
constexpr int MIN_BOOTER_SIZE = 10;

// One directory slot exactly as stored; no field is NUL-terminated.
struct DirEntry {
  std::uint8_t type;
  std::array<std::uint8_t, 8> name;
  std::array<std::uint8_t, 2> first_sector;
  std::array<std::uint8_t, 2> start_address;
  std::array<std::uint8_t, 2> length;
  std::uint8_t attributes;
  std::array<std::uint8_t, 16> long_name;
};
static_assert(sizeof(DirEntry) == DIR_ENTRY_SIZE, "DirEntry must match the on-disk slot");
static_assert(alignof(DirEntry) == 1, "DirEntry is read in place from byte buffers");

// 16-bit little-endian values, as headers, entries and Loader files store them.
inline int get_u16(const std::uint8_t* bytes) { return bytes[0] | (bytes[1] << 8); }
inline void put_u16(std::uint8_t* bytes, int value) {
  bytes[0] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[1] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
}
inline int get_u16(const std::array<std::uint8_t, 2>& field) { return get_u16(field.data()); }
inline void set_u16(std::array<std::uint8_t, 2>& field, int value) { put_u16(field.data(), value); }

inline DirEntry* entry_at(std::uint8_t* directory_area, int slot) {
  return reinterpret_cast<DirEntry*>(directory_area + slot * DIR_ENTRY_SIZE);
}

constexpr int round_to_sectors(int bytes) {
  return (bytes + SECTOR_SIZE - 1) / SECTOR_SIZE * SECTOR_SIZE;
}

// Byte offset of a sector in the image.
constexpr long sector_offset(long sector) { return sector * SECTOR_SIZE; }

// The words shown for the List and AllRAM bits: "None" for no bit at all,
// nothing for other bits alone.
constexpr const char* attribute_words(int attributes) {
  if (attributes == 0) return "None";
  const bool list = (attributes & ATTR_LIST) != 0;
  const bool all_ram = (attributes & ATTR_ALLRAM) != 0;
  if (list && all_ram) return "List, AllRAM";
  return list ? "List" : all_ram ? "AllRAM" : "";
}

// Sizes in kB as the tool prints them with %g.
inline double kilobytes(long bytes) { return static_cast<double>(bytes) * (1.0 / 1024); }

// The geometry of the image in a Context (defined in image_format.cpp; the
// Context itself is declared in cli/context.h, which includes this header).
struct Context;

// Sets the paired geometry fields together: boot size and boot sectors,
// directory items and directory sectors, and the image size in bytes.
void set_geometry(Context& ctx, int boot_sectors, int dir_items, int image_size);
// Bytes the directory takes.
int directory_bytes(const Context& ctx);
// Byte offset of a directory slot in the image.
long slot_offset(const Context& ctx, int slot);
// Byte offset of the data area, behind boot area and directory.
long data_area_offset(const Context& ctx);
// Bytes for files: the image less boot area and directory.
int capacity(const Context& ctx);
// Bytes behind the highest used sector (ctx.used_sectors).
long free_bytes(const Context& ctx);

// A range of bytes of the image.
struct ByteRange {
  long offset;
  long length;
};

// One used directory slot, or one file the running command adds.
struct EntryNode {
  DirEntry* entry;
  int slot;
  int data_offset;
  int rounded_length;
  int image_offset;   // where its data lies in the image as opened
  int stored_length;  // its rounded length there
  std::uint8_t* data;
  int new_data;
  int deleted;
  EntryNode* prev;
  EntryNode* next;
};

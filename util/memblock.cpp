// Memory blocks over malloc/realloc. A handle points at a small header that keeps
// the allocated size (what the Windows memory manager would report); the data follow it.
#include "util/memblock.h"

#include <cstdlib>
#include <cstring>

namespace vlm {

namespace {

struct alignas(alignof(std::max_align_t)) BlockHeader {
  size_t capacity;
};

inline uint8_t* dataOf(void* handle) {
  return reinterpret_cast<uint8_t*>(static_cast<BlockHeader*>(handle) + 1);
}

}  // namespace

void* allocBlock(uint8_t** pointer, size_t bytes) {
  if (pointer) *pointer = nullptr;
  if (bytes > SIZE_MAX - sizeof(BlockHeader)) return nullptr;
  void* handle = std::calloc(1, sizeof(BlockHeader) + bytes);
  if (!handle) return nullptr;
  static_cast<BlockHeader*>(handle)->capacity = bytes;
  if (pointer) *pointer = dataOf(handle);
  return handle;
}

// A failed resize releases the old block too, so `h = reallocBlock(h, ...)` never leaks and a
// failed resize leaves no block, so callers never hold a stale one.
void* reallocBlock(void* handle, uint8_t** pointer, size_t bytes) {
  if (!handle) return allocBlock(pointer, bytes);
  if (pointer) *pointer = nullptr;
  if (bytes > SIZE_MAX - sizeof(BlockHeader)) {
    std::free(handle);
    return nullptr;
  }
  void* moved = std::realloc(handle, sizeof(BlockHeader) + bytes);
  if (!moved) {
    std::free(handle);
    return nullptr;
  }
  static_cast<BlockHeader*>(moved)->capacity = bytes;
  if (pointer) *pointer = dataOf(moved);
  return moved;
}

void freeBlock(void* handle) {
  std::free(handle);
}

size_t blockCapacity(const void* handle) {
  return handle ? static_cast<const BlockHeader*>(handle)->capacity : 0;
}

int blockInit(MemBlock* block, size_t bytes) {
  block->handle = nullptr;
  block->data = nullptr;
  block->length = 0;
  return blockResize(block, bytes);
}

int blockResize(MemBlock* block, size_t bytes) {
  block->handle = block->handle ? reallocBlock(block->handle, &block->data, bytes)
                                : allocBlock(&block->data, bytes);
  if (!block->handle) {
    block->data = nullptr;
    block->length = 0;
    return 0;
  }
  if (block->length < 0 || size_t(block->length) > bytes) {
    block->length = bytes > size_t(INT32_MAX) ? INT32_MAX : int32_t(bytes);
  }
  return 1;
}

int blockEnsure(MemBlock* block, size_t needed, size_t step) {
  const size_t capacity = blockCapacity(block->handle);
  if (block->handle && capacity >= needed) return 1;
  return blockResize(block, capacity + step);
}

int blockFree(MemBlock* block) {
  if (!block->handle) return 0;
  freeBlock(block->handle);
  block->handle = nullptr;
  block->data = nullptr;
  block->length = 0;
  return 1;
}

void fillBytes(void* destination, uint8_t value, size_t n) {
  if (n) std::memset(destination, value, n);
}

void fillWords(uint32_t* destination, uint32_t value, size_t n) {
  for (size_t i = 0; i < n; ++i) destination[i] = value;
}

void copyWords(uint32_t* destination, const uint32_t* source, size_t n) {
  if (n) std::memmove(destination, source, n * sizeof(uint32_t));
}

void swapWords(uint32_t* a, uint32_t* b) {
  uint32_t t = *a;
  *a = *b;
  *b = t;
}

}  // namespace vlm

// Growable memory blocks for whole file images and work buffers.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vlm {

// One zero-initialised block. `handle` owns the allocation (null when none), `data` is its
// address and `length` the bytes of valid content that a loader put there. The allocated size is
// kept by the allocator beside the block and read with blockCapacity.
struct MemBlock {
  void* handle = nullptr;
  uint8_t* data = nullptr;
  int32_t length = 0;
};

// Handle and pointer pairs.
void* allocBlock(uint8_t** pointer, size_t bytes);
void* reallocBlock(void* handle, uint8_t** pointer, size_t bytes);
void freeBlock(void* handle);
size_t blockCapacity(const void* handle);

int blockInit(MemBlock* block, size_t bytes);
int blockResize(MemBlock* block, size_t bytes);
int blockEnsure(MemBlock* block, size_t needed, size_t step);
int blockFree(MemBlock* block);

// Plain fills and copies on arrays.
void fillBytes(void* destination, uint8_t value, size_t n);
void fillWords(uint32_t* destination, uint32_t value, size_t n);
void copyWords(uint32_t* destination, const uint32_t* source, size_t n);
void swapWords(uint32_t* a, uint32_t* b);

}  // namespace vlm

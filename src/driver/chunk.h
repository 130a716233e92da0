// Test buffer chunks, taken and given back around every algorithm call.
#pragma once

#include <cstddef>
#include <cstdint>

void* VykTp2GetMemoryChunk(uint32_t size, uint32_t* status);
uint32_t VykTp2FreeMemoryChunk(void* chunk);

// Test seam: the heap allocation behind VykTp2GetMemoryChunk.
using ChunkAllocFn = void* (*)(size_t size);
using ChunkFreeFn = void (*)(void* chunk);
void set_chunk_allocator(ChunkAllocFn alloc, ChunkFreeFn release);  // nullptr: malloc/free

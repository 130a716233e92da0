// One run of the memory test: pattern passes and chunked sweeps.
#pragma once

#include <cstddef>
#include <cstdint>

struct VykTp2MemStruct_t;

uint32_t VYTMEM_Main(uint32_t level, uint32_t single_run, int argc, char** argv);
uint32_t VykTp2Mem(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done, uint8_t* sel);
uint32_t VykTp2NonPSE36MemoryTest(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done,
                                  uint8_t* sel, uint32_t pattern_pass);
void* VykTp2GetMemoryChunk(uint32_t size, uint32_t* status);
uint32_t VykTp2FreeMemoryChunk(void* chunk);

// Test seam: the heap allocation behind VykTp2GetMemoryChunk.
using ChunkAllocFn = void* (*)(size_t size);
using ChunkFreeFn = void (*)(void* chunk);
void set_chunk_allocator(ChunkAllocFn alloc, ChunkFreeFn release);  // nullptr: malloc/free

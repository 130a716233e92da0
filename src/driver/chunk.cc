// Test buffer chunks: plain heap blocks, taken and given back around every
// algorithm call.
#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "common/logfile.h"
#include "driver/main_seq.h"
#include "driver/memstruct.h"

namespace {

void* heap_alloc(size_t size) {
  return std::malloc(size);
}
void heap_free(void* chunk) {
  std::free(chunk);
}

// Atomics: the cancel thread may give a chunk back while a test swaps the
// allocator in or out.
std::atomic<ChunkAllocFn> g_alloc{&heap_alloc};
std::atomic<ChunkFreeFn> g_free{&heap_free};

}  // namespace

void set_chunk_allocator(ChunkAllocFn alloc, ChunkFreeFn release) {
  g_alloc.store(alloc ? alloc : &heap_alloc);
  g_free.store(release ? release : &heap_free);
}

void* VykTp2GetMemoryChunk(uint32_t size, uint32_t* status) {
  // No alignment beyond the heap's, no locking into memory and no touching:
  // the algorithms write every byte they test themselves.
  void* chunk = g_alloc.load()(size);
  if (chunk == nullptr) {
    printfx(0x200D, "Exx58", "_GetMemoryChunk()  Memory Alloc Error Occurred(0x", size, ")");
    if (status) *status = kRcSyscall;
    return nullptr;
  }
  // The address is shown by its low 32 bits: the whole address on the 32-bit
  // target, and a well-defined argument for %x on a 64-bit build.
  printfx(0x100C, "_GetMemoryChunk()  Allocation Data pVirtualPtr=0x%x dwSize=0x%x\n",
          static_cast<unsigned>(reinterpret_cast<uintptr_t>(chunk)), size);
  if (status) *status = kRcOk;
  return chunk;
}

uint32_t VykTp2FreeMemoryChunk(void* chunk) {
  if (chunk != nullptr) g_free.load()(chunk);
  return kRcOk;
}

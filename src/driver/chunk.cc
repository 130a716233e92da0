// Test buffer chunks: plain heap blocks, taken and given back around every
// algorithm call.
#include "driver/chunk.h"

#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "common/logfile.h"
#include "state/memstruct.h"

namespace {

// Large chunks come from the heap as fresh mappings, and a sweep then spends
// more time taking page faults than testing memory. Asking for transparent
// huge pages over the whole pages of the block (a hint only: nothing is
// touched, locked or realigned) cuts the faults 512-fold where the kernel
// grants them; where it does not, nothing changes.
void advise_huge_pages(void* chunk, size_t size) {
#ifdef MADV_HUGEPAGE
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(chunk) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(chunk) + size) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)chunk;
  (void)size;
#endif
}

void* heap_alloc(size_t size) {
  void* chunk = std::malloc(size);
  if (chunk != nullptr && size >= (size_t{2} << 20)) advise_huge_pages(chunk, size);
  return chunk;
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
    printfx(kPfTraceMsg | kPfLogRecord1, "Exx58",
            "_GetMemoryChunk()  Memory Alloc Error Occurred(0x", size, ")");
    if (status) *status = kRcSyscall;
    return nullptr;
  }
  // The address is shown by its low 32 bits: the whole address on the 32-bit
  // target, and a well-defined argument for %x on a 64-bit build.
  printfx(kPfTraceText, "_GetMemoryChunk()  Allocation Data pVirtualPtr=0x%x dwSize=0x%x\n",
          static_cast<unsigned>(reinterpret_cast<uintptr_t>(chunk)), size);
  if (status) *status = kRcOk;
  return chunk;
}

uint32_t VykTp2FreeMemoryChunk(void* chunk) {
  if (chunk != nullptr) g_free.load()(chunk);
  return kRcOk;
}

// Test buffer chunks: heap blocks of the platform, taken and given back
// around every algorithm call.
#include "driver/chunk.h"

#include <cstdint>

#include "common/logfile.h"
#include "common/platform.h"
#include "state/memstruct.h"

void* VykTp2GetMemoryChunk(uint32_t size, uint32_t* status) {
  // No alignment beyond the heap's, no locking into memory and no touching:
  // the algorithms write every byte they test themselves.
  void* chunk = platform().chunk_alloc(size);
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
  if (chunk != nullptr) platform().chunk_free(chunk);
  return kRcOk;
}

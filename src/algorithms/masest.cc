// MASEST over the buffer itself.
#include "algorithms/masest.h"

#include "algorithms/masest_impl.h"

uint32_t VykTp2MASEST(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                      uint64_t* done) {
  DirectMemory mem(buffer);
  return masest_body(mem, kind, buffer, size, ctl, done);
}

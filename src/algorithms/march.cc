// MARCH over the buffer itself.
#include "algorithms/march.h"

#include "algorithms/march_impl.h"

uint32_t VykTp2MARCH(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint64_t* done) {
  DirectMemory mem(buffer);
  return march_body(mem, kind, buffer, size, ctl, done);
}

// MSCAN over the buffer itself.
#include "algorithms/mscan.h"

#include "algorithms/mscan_impl.h"

uint32_t VykTp2MSCAN(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint64_t* done) {
  DirectMemory mem(buffer);
  return mscan_body(mem, kind, buffer, size, ctl, done);
}

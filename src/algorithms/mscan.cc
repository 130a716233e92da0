// MSCAN over the buffer itself.
#include "algorithms/mscan.h"

#include "algorithms/mscan_impl.h"

void (*g_mscan_sweep_hook)(void* buffer, uint64_t written) = nullptr;

void set_mscan_sweep_hook(MscanSweepHook hook) {
  g_mscan_sweep_hook = hook;
}

uint32_t VykTp2MSCAN(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint64_t* done) {
  DirectMemory mem(buffer);
  return mscan_body(mem, kind, buffer, size, ctl, done);
}

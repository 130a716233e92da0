// MSCAN: one ascending write sweep, one ascending read-and-compare sweep.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

uint32_t VykTp2MSCAN(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint64_t* done);

// Test seam: called between the write sweep and the read sweep with the
// buffer and the number of bytes written.
using MscanSweepHook = void (*)(void* buffer, uint64_t written);
void set_mscan_sweep_hook(MscanSweepHook hook);

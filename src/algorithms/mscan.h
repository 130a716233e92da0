// MSCAN: one ascending write sweep, one ascending read-and-compare sweep.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

uint32_t VykTp2MSCAN(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint64_t* done);

// BMOVE: block moves inside every 4 MiB block, checked against their source.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

// weight: passed as 0 by the main sequence, no effect.
uint32_t VykTp2BMOVE(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint32_t weight, uint64_t* done);

// MASEST: pairs of pattern and complement, each unit read with its mirror.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

uint32_t VykTp2MASEST(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                      uint64_t* done);

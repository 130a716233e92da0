// MARCH: a three-sweep march test in 8-byte units.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

uint32_t VykTp2MARCH(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint64_t* done);

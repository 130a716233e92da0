// Moving inversion (IMOVE): walking ones and zeros copied from one half of
// the test area onto the other.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

// Returns 1, 1024, 4 (cancelled), or 0xFFFFFFFF for a null buffer.
uint32_t Vyk_moving_inversion(void* buffer, uint64_t length, VykTp2MemStruct_t* ctl,
                              uint64_t* done);

// The memory-test keyword parser.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

uint32_t VykTp2ParseParam2(char** argv, VykTp2MemStruct_t* ctl, uint8_t* algo_array,
                           uint32_t* error_number);

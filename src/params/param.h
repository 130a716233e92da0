// The memory-test keyword parser and the run-setting pre-scan.
#pragma once

#include <cstddef>
#include <cstdint>

#include "state/param_block.h"

struct VykTp2MemStruct_t;

uint32_t VykTp2ParseParam2(char** argv, VykTp2MemStruct_t* ctl, uint8_t* algo_array,
                           uint32_t* error_number);
int32_t VykTp2StringToLong(const char* text, uint32_t* out, int mode);
int get_pa_str(uint64_t value, char* out);
int32_t Pre_Getp_ForProgress(char** argv);

// Test seam: the allocation of the 2048-byte working text (the block is
// released with free). nullptr restores malloc.
using ParamTextAllocFn = void* (*)(size_t size);
void set_param_text_alloc(ParamTextAllocFn fn);

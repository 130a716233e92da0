// One run of the memory test: pattern passes and chunked sweeps.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

uint32_t VYTMEM_Main(uint32_t level, uint32_t single_run, int argc, char** argv);
uint32_t VykTp2Mem(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done, uint8_t* sel);
uint32_t VykTp2NonPSE36MemoryTest(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done,
                                  uint8_t* sel, uint32_t pattern_pass);

// Test data patterns: the generator of the offset-addressed cross-talk and
// repeat patterns and of the fixed data kinds.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

extern uint8_t* bpPtnData;

uint32_t VykTp2GeneratePattern(int64_t width, int64_t offset, uint8_t* out, int64_t length,
                               VykTp2MemStruct_t* ctl, uint16_t kind);

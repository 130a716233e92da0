// The block noise patterns: fill count 32-bit words from start with blocks of
// 28 units of 64 or 128 bits.
#pragma once

#include <cstdint>

void noize_pattern_64(void* start, uint32_t count);
void noize_pattern_128(void* start, uint32_t count);

// The 32-block period of the noise patterns (7168 bytes for 64-bit units,
// 14336 for 128-bit units), for fills that cannot store into the buffer
// directly. *len receives its length.
const uint8_t* noise_period(unsigned bits, uint32_t* len);

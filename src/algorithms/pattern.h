// Test data patterns: the offset-addressed cross-talk and repeat patterns and
// the block noise patterns.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

extern uint8_t* bpPtnData;

uint32_t VykTp2GeneratePattern(int64_t width, int64_t offset, uint8_t* out, int64_t length,
                               VykTp2MemStruct_t* ctl, uint16_t kind);
void noize_pattern_64(void* start, uint32_t count);
void noize_pattern_128(void* start, uint32_t count);

// Streaming access to the offset-addressed patterns for the sweeps. Both
// kinds repeat every 4096 bytes (the repeat kind every 32), so one period
// table per kind gives the value at any offset without calling the generator.
inline constexpr uint32_t kPatternPeriodBytes = 4096;
inline constexpr uint32_t kPatternPeriodUnits = kPatternPeriodBytes / 8;
inline constexpr uint32_t kRepeatPeriodUnits = 4;

// The 512 units of offsets 0..4095 in memory order (unit n holds the bytes
// that belong at offset 8n), or null for a kind that is neither 46 nor 47.
const uint64_t* pattern_period_table(uint16_t kind);
// The 32-byte period of the repeat kind (units 0xAA.., 0x55.., 0x00.., 0xFF..).
const uint64_t* pattern_repeat_period();

// Stores the pattern bytes of [offset, offset + len) into dst, which stands
// for the buffer at that offset. offset and len are multiples of 8; the kind
// must have a period table. Uses wide stores; no allocation, no cancel check.
void pattern_stream_fill(const uint64_t* table, void* dst, uint64_t offset, uint64_t len);
// True when the len bytes at src equal the pattern of [offset, offset + len).
bool pattern_stream_equal(const uint64_t* table, const void* src, uint64_t offset, uint64_t len);

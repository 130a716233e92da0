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

// How a sweep lays the pattern P out: P itself, its complement ~P, or pairs
// of units (P at offsets that are multiples of 16, ~P at the others).
enum class PeriodForm : uint8_t { kPlain, kInverted, kPairs };

// The 512 units of offsets 0..4095 in memory order (unit n holds the bytes
// that belong at offset 8n), or null for a kind that is neither 46 nor 47.
const uint64_t* pattern_period_table(uint16_t kind, PeriodForm form = PeriodForm::kPlain);
// The unit of a period table that belongs at offset off (a multiple of 8).
inline uint64_t period_unit(const uint64_t* table, uint64_t off) {
  return table[(off % kPatternPeriodBytes) / 8];
}
// The 32-block period of the noise patterns (7168 bytes for 64-bit units,
// 14336 for 128-bit units), for fills that cannot store into the buffer
// directly. *len receives its length.
const uint8_t* noise_period(unsigned bits, uint32_t* len);

// Stores the pattern bytes of [offset, offset + len) into dst, which stands
// for the buffer at that offset. offset and len are multiples of 8; the kind
// must have a period table. Uses wide stores; no allocation, no cancel check.
void pattern_stream_fill(const uint64_t* table, void* dst, uint64_t offset, uint64_t len);
// True when the len bytes at src equal the pattern of [offset, offset + len).
bool pattern_stream_equal(const uint64_t* table, const void* src, uint64_t offset, uint64_t len);

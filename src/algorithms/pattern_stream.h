// Period tables and wide streaming of the offset-addressed patterns.
#pragma once

#include <cstdint>

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

// Stores the pattern bytes of [offset, offset + len) into dst, which stands
// for the buffer at that offset. offset and len are multiples of 8; the kind
// must have a period table. Uses wide stores; no allocation, no cancel check.
void pattern_stream_fill(const uint64_t* table, void* dst, uint64_t offset, uint64_t len);
// True when the len bytes at src equal the pattern of [offset, offset + len).
bool pattern_stream_equal(const uint64_t* table, const void* src, uint64_t offset, uint64_t len);

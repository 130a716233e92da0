// Millisecond ticks from the wall clock, their comparison, and the pause
// between test steps.
#pragma once

#include <atomic>
#include <cstdint>

#include "state/param_block.h"

uint64_t memtest_GetTickCount();
uint64_t GetNowTime();
// 1: still within the limit (also when start lies after now); 0: reached.
int32_t memtest_CmpTickCount(uint64_t limit, uint64_t margin, const uint64_t* start,
                             const uint64_t* now);
// "Is the slice or the run time over?", the one check every time-limited
// loop makes. A limit that is not active never ends anything. The checks run
// once per span of a sweep, so they stay inline and read the clock only when
// there is a limit to compare it with.
struct TimeLimit {
  bool active;
  uint64_t ms;
};

// The run time while one is in force, cut to 1/2^shift of it for a limit
// that recurs within the run.
inline TimeLimit run_time_limit(unsigned shift = 0) {
  if (execute_time_used.load(std::memory_order_relaxed) != 1) return {false, 0};
  return {true, execute_time >> shift};
}

// At level 0 (the patrol pass) slices of slice_ms; at any other level the run
// time, as above.
inline TimeLimit slice_or_run_time(uint32_t level, uint64_t slice_ms, unsigned shift = 0) {
  if (level == 0) return {true, slice_ms};
  return run_time_limit(shift);
}

// True when the limit is reached between start and now (now - start >= ms; a
// clock set back stays within the limit).
inline bool time_limit_reached(TimeLimit limit, uint64_t start, uint64_t now) {
  return limit.active && memtest_CmpTickCount(limit.ms, 0, &start, &now) == 0;
}

// The same against the clock, which is read only for an active limit.
inline bool time_limit_over(TimeLimit limit, uint64_t start) {
  return limit.active && time_limit_reached(limit, start, memtest_GetTickCount());
}

// 0 after the full pause, 1 when the run time ran out during it.
int32_t memtest_sleep();

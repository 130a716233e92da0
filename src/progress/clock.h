// Millisecond ticks from the wall clock, their comparison, and the pause
// between test steps.
#pragma once

#include <sys/time.h>
#include <cstdint>

uint64_t memtest_GetTickCount();
uint64_t GetNowTime();
// 1: still within the limit (also when start lies after now); 0: reached.
int32_t memtest_CmpTickCount(uint64_t limit, uint64_t margin, const uint64_t* start,
                             const uint64_t* now);
// 0 after the full pause, 1 when the run time ran out during it.
int32_t memtest_sleep();

// Test seams: the time-of-day source and the one-second sleep.
using TimeOfDayFn = int (*)(struct timeval* tv);
void set_timeofday_fn(TimeOfDayFn fn);  // nullptr restores gettimeofday
using SleepSecondsFn = void (*)(unsigned seconds);
void set_sleep_fn(SleepSecondsFn fn);  // nullptr restores the real sleep
void memtest_sleep_seconds(unsigned seconds);

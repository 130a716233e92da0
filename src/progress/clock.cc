// Millisecond ticks from the wall clock, their comparison, and the pause
// between test steps.
#include "progress/clock.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/process_end.h"

namespace {

std::atomic<TimeOfDayFn> g_timeofday{nullptr};
std::atomic<SleepSecondsFn> g_sleep{nullptr};

void real_sleep_seconds(unsigned seconds) {
  timespec left{static_cast<time_t>(seconds), 0};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Seconds and microseconds are taken as signed 32-bit values and widened.
int64_t now_microseconds() {
  timeval tv{};
  TimeOfDayFn fn = g_timeofday.load();
  if (fn) {
    fn(&tv);
  } else {
    gettimeofday(&tv, nullptr);  // errors are ignored
  }
  const int64_t sec = static_cast<int32_t>(tv.tv_sec);
  const int64_t usec = static_cast<int32_t>(tv.tv_usec);
  return sec * 1000000 + usec;
}

}  // namespace

void set_timeofday_fn(TimeOfDayFn fn) {
  g_timeofday.store(fn);
}
void set_sleep_fn(SleepSecondsFn fn) {
  g_sleep.store(fn);
}

void memtest_sleep_seconds(unsigned seconds) {
  SleepSecondsFn fn = g_sleep.load();
  if (fn) {
    fn(seconds);
  } else {
    real_sleep_seconds(seconds);
  }
}

uint64_t GetNowTime() {
  return static_cast<uint64_t>(now_microseconds());
}

uint64_t memtest_GetTickCount() {
  return static_cast<uint64_t>(now_microseconds()) / 1000;
}

int32_t memtest_CmpTickCount(uint64_t limit, uint64_t /*margin*/, const uint64_t* start,
                             const uint64_t* now) {
  if (*start > *now) return 1;  // clock set back: still within the limit
  return (*now - *start) < limit ? 1 : 0;
}

int32_t memtest_sleep() {
  const uint32_t seconds = execute_waitsec.load();
  for (uint32_t i = 0; i < seconds; ++i) {
    if (Ex_dwTestLevel.load() != 0 && execute_time_used.load() == 1) {
      const uint64_t now = memtest_GetTickCount();
      if (memtest_CmpTickCount(execute_time, 0, &Ex_Prev_MSec, &now) == 0) return 1;
    }
    // A cancel during a long pause stops the test thread here.
    cancel_checkpoint();
    memtest_sleep_seconds(1);
  }
  return 0;
}

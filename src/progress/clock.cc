// Millisecond ticks from the wall clock, their comparison, and the pause
// between test steps.
#include "progress/clock.h"

#include <sys/time.h>

#include "common/platform.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/process_end.h"

namespace {

// Seconds and microseconds are taken as signed 32-bit values and widened.
int64_t now_microseconds() {
  timeval tv{};
  platform().time_of_day(&tv);  // errors are ignored
  const int64_t sec = static_cast<int32_t>(tv.tv_sec);
  const int64_t usec = static_cast<int32_t>(tv.tv_usec);
  return sec * 1000000 + usec;
}

}  // namespace

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
    platform().sleep_seconds(1);
  }
  return 0;
}

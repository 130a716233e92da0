// What the test level (the LV digit) decides, in one table: the run time a
// run plans for when no RUNTIME is given, and whether a progress thread
// reports the run.
#pragma once

#include <cstdint>
#include <iterator>

struct TestLevelRow {
  uint64_t lv_time_ms;    // execute_time set by LV
  uint64_t size_time_ms;  // execute_time set by SIZE without a run time
  bool progress_thread;   // a progress thread reports the run, one round per
                          // lv_time_ms
  bool long_run;          // a sized run at this level is not cut to one run
};

// Level 0 is the short patrol pass; 1 to 3 are the online levels.
inline constexpr TestLevelRow kTestLevels[] = {
    {1000, 70000, false, false},
    {70000, 70000, true, false},
    {600000, 600000, true, true},
    {770000, 770000, true, true},
};
// Any other digit, and the run time in force before an LV is read.
inline constexpr TestLevelRow kOtherTestLevel = {70000, 70000, false, false};

constexpr const TestLevelRow& test_level_row(uint32_t level) {
  return level < std::size(kTestLevels) ? kTestLevels[level] : kOtherTestLevel;
}

// True when ms is the SIZE run time of a long level: the run loop keys on the
// run time, not on the level, when it decides whether a sized run ends.
constexpr bool is_long_level_time(uint64_t ms) {
  for (const TestLevelRow& row : kTestLevels) {
    if (row.long_run && row.size_time_ms == ms) return true;
  }
  return false;
}

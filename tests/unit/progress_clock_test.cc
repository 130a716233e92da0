// Ticks, their comparison and the pause between test steps.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "driver/memstruct.h"
#include "params/param.h"
#include "progress/clock.h"

namespace {

// Wall clock under test control, in microseconds; each sleep moves it on.
int64_t g_now_us = 0;
int g_sleeps = 0;

int fake_timeofday(struct timeval* tv) {
  int64_t sec = g_now_us / 1000000;
  int64_t usec = g_now_us % 1000000;
  if (usec < 0) {
    usec += 1000000;
    sec -= 1;
  }
  tv->tv_sec = static_cast<time_t>(sec);
  tv->tv_usec = static_cast<suseconds_t>(usec);
  return 0;
}

void fake_sleep(unsigned seconds) {
  ++g_sleeps;
  g_now_us += static_cast<int64_t>(seconds) * 1000000;
}

class ClockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_now_us = 1700000000LL * 1000000 + 123456;
    g_sleeps = 0;
    set_timeofday_fn(&fake_timeofday);
    set_sleep_fn(&fake_sleep);
    reset();
  }
  void TearDown() override {
    set_timeofday_fn(nullptr);
    set_sleep_fn(nullptr);
    reset();
  }
  static void reset() {
    execute_waitsec = 0;
    execute_time_used = 0;
    execute_time = 30000;
    Ex_dwTestLevel = 0;
    Ex_Prev_MSec = 0;
  }
};

TEST_F(ClockTest, TicksFromTheTimeOfDay) {
  EXPECT_EQ(GetNowTime(), 1700000000123456ull);
  EXPECT_EQ(memtest_GetTickCount(), 1700000000123ull);
  // Before the epoch the signed sum is divided as an unsigned value.
  g_now_us = -1000000;
  EXPECT_EQ(GetNowTime(), static_cast<uint64_t>(-1000000LL));
  EXPECT_EQ(memtest_GetTickCount(), static_cast<uint64_t>(-1000000LL) / 1000);
}

TEST_F(ClockTest, SecondsAreTakenAs32Bits) {
  if constexpr (sizeof(time_t) > 4) {
    g_now_us = ((1LL << 32) + 5) * 1000000 + 7;
    EXPECT_EQ(GetNowTime(), 5000007ull);
    g_now_us = (1LL << 31) * 1000000;  // wraps to a negative second count
    EXPECT_EQ(GetNowTime(), static_cast<uint64_t>(-(1LL << 31) * 1000000));
  } else {
    GTEST_SKIP() << "time_t is 32 bits here";
  }
}

TEST(CmpTickCount, Table) {
  const struct {
    uint64_t limit, start, now;
    int32_t want;
  } kCases[] = {
      {1000, 5000, 5999, 1},   // below the limit
      {1000, 5000, 6000, 0},   // at the limit
      {1000, 5000, 6001, 0},   // past it
      {1, 5000, 5000, 1},      // start equal to now, limit above 0
      {0, 5000, 5000, 0},      // start equal to now, limit 0
      {0, 5001, 5000, 1},      // start after now: clock set back
      {~0ull, 5001, 5000, 1},  //   whatever the limit
      {1000, ~0ull, 0, 1},     //   even far apart
      {~0ull, 0, ~0ull, 0},    // full range: elapsed equals the limit
      {0x3E7FFFFFC18, 0, 0x3E7FFFFFC17, 1},
  };
  for (const auto& c : kCases) {
    EXPECT_EQ(memtest_CmpTickCount(c.limit, 300000, &c.start, &c.now), c.want)
        << c.limit << " " << c.start << " " << c.now;
    EXPECT_EQ(memtest_CmpTickCount(c.limit, 0, &c.start, &c.now), c.want);
  }
}

TEST_F(ClockTest, SleepZeroSecondsReturnsAtOnce) {
  Ex_dwTestLevel = 1;
  execute_time_used = 1;
  EXPECT_EQ(memtest_sleep(), 0);
  EXPECT_EQ(g_sleeps, 0);
}

TEST_F(ClockTest, SleepFullCountWithoutRuntimeCheck) {
  const struct { uint32_t level, time_used; } kCases[] = {{0, 1}, {0, 0}, {1, 0}, {3, 0}};
  for (const auto& c : kCases) {
    g_sleeps = 0;
    Ex_dwTestLevel = c.level;
    execute_time_used = c.time_used;
    execute_time = 0;  // over already, but not looked at
    Ex_Prev_MSec = memtest_GetTickCount();
    execute_waitsec = 4;
    EXPECT_EQ(memtest_sleep(), 0) << c.level;
    EXPECT_EQ(g_sleeps, 4) << c.level;
  }
}

TEST_F(ClockTest, SleepEndsWhenTheRunTimeIsOver) {
  Ex_dwTestLevel = 1;
  execute_time_used = 1;
  execute_waitsec = 5;
  execute_time = 60000;
  Ex_Prev_MSec = memtest_GetTickCount() - 60000;  // already over
  EXPECT_EQ(memtest_sleep(), 1);
  EXPECT_EQ(g_sleeps, 0);

  // Runs out during the pause: checked before each one-second sleep.
  execute_time = 2000;
  Ex_Prev_MSec = memtest_GetTickCount();
  EXPECT_EQ(memtest_sleep(), 1);
  EXPECT_EQ(g_sleeps, 2);
}

TEST_F(ClockTest, SleepWithClockSetBackSleepsFully) {
  Ex_dwTestLevel = 2;
  execute_time_used = 1;
  execute_time = 1000;
  execute_waitsec = 3;
  Ex_Prev_MSec = memtest_GetTickCount() + 10000000;
  EXPECT_EQ(memtest_sleep(), 0);
  EXPECT_EQ(g_sleeps, 3);
}

TEST(ClockRealSeams, RealClockAndSleep) {
  set_timeofday_fn(nullptr);
  set_sleep_fn(nullptr);
  const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
  const uint64_t t0 = memtest_GetTickCount();
  EXPECT_LE(static_cast<int64_t>(t0) - wall, 1000);
  EXPECT_GE(static_cast<int64_t>(t0) - wall, -1000);
  const auto s0 = std::chrono::steady_clock::now();
  memtest_sleep_seconds(1);
  EXPECT_GE(std::chrono::steady_clock::now() - s0, std::chrono::milliseconds(990));
}

}  // namespace

// Ticks, their comparison and the pause between test steps.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>

#include "state/memstruct.h"
#include "params/param.h"
#include "progress/clock.h"

namespace {

// Wall clock under test control, in microseconds; each sleep moves it on.
int64_t g_now_us = 0;
int g_sleeps = 0;

int fake_timeofday(struct timeval* tv) {
  const int64_t sec = g_now_us / 1000000 - (g_now_us % 1000000 < 0 ? 1 : 0);
  tv->tv_sec = static_cast<time_t>(sec);
  tv->tv_usec = static_cast<suseconds_t>(g_now_us - sec * 1000000);
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
    set_timeofday_fn(&fake_timeofday);
    set_sleep_fn(&fake_sleep);
  }
  void TearDown() override {
    set_timeofday_fn(nullptr);
    set_sleep_fn(nullptr);
    execute_waitsec = execute_time_used = 0;
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
  if constexpr (sizeof(time_t) > 4) {  // seconds are taken as 32 bits
    g_now_us = ((1LL << 32) + 5) * 1000000 + 7;
    EXPECT_EQ(GetNowTime(), 5000007ull);
    g_now_us = (1LL << 31) * 1000000;  // wraps to a negative second count
    EXPECT_EQ(GetNowTime(), static_cast<uint64_t>(-(1LL << 31) * 1000000));
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
    SCOPED_TRACE(testing::Message() << c.limit << " " << c.start << " " << c.now);
    EXPECT_EQ(memtest_CmpTickCount(c.limit, 300000, &c.start, &c.now), c.want);
    EXPECT_EQ(memtest_CmpTickCount(c.limit, 0, &c.start, &c.now), c.want);
  }
}

TEST_F(ClockTest, SleepTable) {
  const struct {
    const char* name;
    uint32_t level, time_used, waitsec;
    uint64_t time;
    int64_t prev_ago;  // Ex_Prev_MSec this many ms before now
    int want, sleeps;
  } kCases[] = {
      {"zero seconds", 1, 1, 0, 30000, 0, 0, 0},
      {"level 0 ignores the run time", 0, 1, 4, 0, 0, 0, 4},
      {"run time not used", 1, 0, 4, 0, 0, 0, 4},
      {"run time already over", 1, 1, 5, 60000, 60000, 1, 0},
      {"runs out during the pause", 1, 1, 5, 2000, 0, 1, 2},
      {"clock set back sleeps fully", 2, 1, 3, 1000, -10000000, 0, 3},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    g_sleeps = 0;
    Ex_dwTestLevel = c.level;
    execute_time_used = c.time_used;
    execute_waitsec = c.waitsec;
    execute_time = c.time;
    Ex_Prev_MSec = memtest_GetTickCount() - c.prev_ago;
    EXPECT_EQ(memtest_sleep(), c.want);
    EXPECT_EQ(g_sleeps, c.sleeps);
  }
}

TEST(ClockRealSeams, RealClockAndSleep) {
  const auto wall = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch())
                        .count();
  EXPECT_NEAR(static_cast<double>(memtest_GetTickCount()), static_cast<double>(wall), 1000);
  const auto s0 = std::chrono::steady_clock::now();
  memtest_sleep_seconds(1);
  EXPECT_GE(std::chrono::steady_clock::now() - s0, std::chrono::milliseconds(990));
}

}  // namespace

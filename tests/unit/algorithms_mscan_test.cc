// MSCAN: streamed write and read sweeps, the unit-exact report of the first
// mismatch, time limits, cancel and the buffer check.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <string>
#include <vector>

#include "algorithms/mscan.h"
#include "algorithms/pattern.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "params/param.h"
#include "progress/clock.h"
#include "state/memstruct.h"
#include "test_support.h"

namespace {

constexpr uint64_t kSpan = 0x8000;
constexpr uint64_t kNone = ~uint64_t{0};
constexpr uint8_t kSentinel = 0x5a;

// Fake time of day: every reading advances by the current step.
std::atomic<uint64_t> g_clock_ms{0}, g_clock_step{0};
std::atomic<int> g_clock_calls{0}, g_cancel_at_call{-1}, g_sleeps{0};

int fake_timeofday(struct timeval* tv) {
  if (++g_clock_calls == g_cancel_at_call.load()) execute_cancel = 1;
  uint64_t total = 1700000000000ull + g_clock_ms.fetch_add(g_clock_step.load());
  tv->tv_sec = static_cast<time_t>(total / 1000);
  tv->tv_usec = static_cast<suseconds_t>((total % 1000) * 1000);
  return 0;
}

void count_sleep(unsigned seconds) {
  g_sleeps += static_cast<int>(seconds);
}

// What the hook does between the write and the read sweep.
struct HookPlan {
  std::vector<std::pair<uint64_t, uint8_t>> flips;  // byte offset, bit mask
  uint64_t written = kNone;
  uint64_t read_clock_step = 0;  // 0: unchanged
  bool cancel = false;
};
HookPlan g_plan;

void plan_hook(void* buffer, uint64_t written) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  g_plan.written = written;
  for (auto [off, mask] : g_plan.flips) bytes[off] ^= mask;
  if (g_plan.read_clock_step != 0) g_clock_step = g_plan.read_clock_step;
  if (g_plan.cancel) execute_cancel = 1;
}

std::array<uint8_t, 8> unit_at(uint16_t kind, uint64_t off) {
  std::array<uint8_t, 8> u{};
  EXPECT_EQ(VykTp2GeneratePattern(8, static_cast<int64_t>(off), u.data(), 8, nullptr, kind), kRcOk);
  return u;
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A buffer with sentinel bytes on both sides.
struct Guarded {
  explicit Guarded(uint64_t size) : mem(size + 64, kSentinel), size(size) {}
  uint8_t* data() { return mem.data() + 32; }
  bool sentinels(size_t from, size_t to) const {
    return std::all_of(mem.begin() + from, mem.begin() + to,
                       [](uint8_t b) { return b == kSentinel; });
  }
  bool untouched() const { return sentinels(0, mem.size()); }
  std::vector<uint8_t> mem;
  uint64_t size;
};

class MscanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test_inf_clear();
    std::snprintf(TEST_INF.module_name, sizeof TEST_INF.module_name, "memtest");
    std::snprintf(TEST_INF.device_name, sizeof TEST_INF.device_name, "MEM");
    TEST_INF.test_mode = kModeOnline;
    TEST_INF.test_level = 4;
    ASSERT_EQ(tp_area_ctl(kAreaCreate, 1024), 0);
    std::snprintf(TEST_INF.data_path, sizeof TEST_INF.data_path, "%s",
                  testsupport::data_dir().c_str());
    ASSERT_EQ(get_msgtbl("onl_msge.txt"), 0);
    reset();
    set_mscan_sweep_hook(&plan_hook);
    set_timeofday_fn(&fake_timeofday);
    set_sleep_fn(&count_sleep);
  }
  void TearDown() override {
    set_mscan_sweep_hook(nullptr);
    set_timeofday_fn(nullptr);
    set_sleep_fn(nullptr);
    reset();
    Ex_dwTestLevel = 0;
    execute_waitsec = 0;
    Ex_Prev_MSec = 0;
    tp_area_ctl(kAreaFreeAll, 0);
    test_inf_clear();
  }
  // Fresh state for the next run; level 4 has no sweep limit.
  void reset() {
    capture_.clear();
    g_plan = HookPlan{};
    g_clock_ms = g_clock_step = 0;
    g_clock_calls = g_sleeps = 0;
    g_cancel_at_call = -1;
    Ex_dwTestLevel = 4;
    execute_time = 30000;
    execute_time_used = execute_waitsec_used = execute_cancel = 0;
    std::memset(Fake_Err, 0, sizeof Fake_Err);
    std::memset(&Error_Details, 0, sizeof Error_Details);
    Ex_error_list_level = 0;
  }
  testsupport::OutputCapture capture_;
};

TEST_F(MscanTest, CleanBufferPassesAndHoldsThePattern) {
  const uint64_t size = 2 * kSpan + 0x1008;
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    reset();
    Guarded buf(size);
    uint64_t done = 0;
    EXPECT_EQ(VykTp2MSCAN(kind, buf.data(), size, nullptr, &done), kRcOk);
    EXPECT_EQ(done, size);
    EXPECT_EQ(g_plan.written, size);
    EXPECT_TRUE(buf.sentinels(0, 32) && buf.sentinels(32 + size, buf.mem.size()));
    for (uint64_t off = 0; off < size; off += 8) {
      ASSERT_EQ(std::memcmp(buf.data() + off, unit_at(kind, off).data(), 8), 0)
          << "kind " << kind << " offset " << off;
    }
    EXPECT_EQ(Error_Details.error_class, 0u);
    EXPECT_EQ(count_of(capture_.text(), "Data Compare Error"), 0u);
  }
}

// The first flipped bit is reported exactly once, with its unit and byte,
// even when later units (and later bytes of the same unit) differ too.
TEST_F(MscanTest, FirstFlippedBitIsReported) {
  const uint64_t size = 3 * kSpan + 0x40;
  const struct {
    uint64_t byte;
    uint8_t mask;
  } kCases[] = {
      {0x10, 0x01},         {0x13, 0x80},          {kSpan - 1, 0x10}, {kSpan, 0x02},
      {kSpan + 0x0d, 0x40}, {2 * kSpan + 7, 0x01}, {size - 8, 0x04},  {size - 1, 0x80},
  };
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    for (const auto& c : kCases) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " byte 0x" << std::hex << c.byte);
      reset();
      Guarded buf(size);
      const uint64_t unit = c.byte & ~uint64_t{7};
      g_plan.flips = {{c.byte, c.mask}};
      if ((c.byte & 7) < 7) g_plan.flips.push_back({c.byte + 1, 0x01});
      if (c.byte + 0x18 < size) g_plan.flips.push_back({c.byte + 0x18, 0x01});
      uint64_t done = 0;
      ASSERT_EQ(VykTp2MSCAN(kind, buf.data(), size, nullptr, &done), kRcCompare);
      const Error_Details_t& d = Error_Details;
      EXPECT_EQ(d.error_code, 1u);
      EXPECT_EQ(d.offset_ref, unit);
      EXPECT_EQ(d.mismatch_offset, c.byte - unit);
      std::array<uint8_t, 8> want = unit_at(kind, unit);
      ASSERT_NE(d.expected_data, nullptr);
      EXPECT_EQ(std::memcmp(d.expected_data, want.data(), 8), 0);
      want[c.byte - unit] ^= c.mask;
      if ((c.byte & 7) < 7) want[c.byte - unit + 1] ^= 0x01;
      EXPECT_EQ(std::memcmp(d.actual_data, want.data(), 8), 0);
      EXPECT_EQ(done, size);  // set by the write sweep
      std::string out = capture_.text();
      EXPECT_EQ(count_of(out, " ERROR   : MSCAN Data Compare Error(Ref No. 1)\n"), 1u);
      char act[64];
      std::snprintf(act, sizeof act, " Act.Address (+%lx) ", static_cast<unsigned long>(unit));
      EXPECT_EQ(count_of(out, act), 1u) << out;
    }
  }
}

// MSCANX: the injected fault is reported once, at the first unit, with the
// trace lines of a compare error.
TEST_F(MscanTest, InjectedFaultReportsTheFirstUnitOnce) {
  testsupport::TempDir dir;
  std::snprintf(TEST_INF.trace_log_base, sizeof TEST_INF.trace_log_base, "%s/memot",
                dir.path().c_str());
  TEST_INF.log_size_limit = 1 << 20;
  TEST_INF.log_generations = 2;
  Guarded buf(2 * kSpan);
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    reset();
    Fake_Err[0] = 1;
    EXPECT_EQ(VykTp2MSCAN(kind, buf.data(), 2 * kSpan, nullptr, nullptr), kRcCompare);
    EXPECT_EQ(Error_Details.offset_ref, 0u);
    EXPECT_EQ(Error_Details.mismatch_offset, 0u);
    const auto* actual = static_cast<const uint8_t*>(Error_Details.actual_data);
    ASSERT_NE(actual, nullptr);
    const uint8_t injected[4] = {0xEF, 0xBE, 0xEF, 0xBE};
    EXPECT_EQ(std::memcmp(actual, injected, 4), 0);
    EXPECT_EQ(std::memcmp(actual + 4, unit_at(kind, 0).data() + 4, 4), 0);
    EXPECT_EQ(count_of(capture_.text(), "MSCAN Data Compare Error(Ref No. 1)"), 1u);
  }
  const std::string trace = testsupport::read_file(dir.file("memot_log.0"));
  char logical[96];
  std::snprintf(logical, sizeof logical,
                ",I0359,Logical Address=0x%08x Physical Address=0x0000000000000000\n",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(buf.data())));
  for (const char* line : {",I0356,_MSCAN()  Started\n", static_cast<const char*>(logical),
                           ",00000,_CompareBuffer()  mem_dev_name=ADDRESS;0000000000000000\n"}) {
    EXPECT_EQ(count_of(trace, line), 2u) << line << trace;
  }
}

// With a clock step of 10 ms the k-th check of a sweep reads start + 10k, so
// a limit of L ms cuts the write sweep at (L/10 - 1) x 32 KiB. The hook can
// speed the clock up for the read sweep, or cancel; cancel is checked at
// every 32 KiB.
TEST_F(MscanTest, LimitsAndCancel) {
  const uint64_t size = 16 * kSpan;
  const struct {
    const char* name;
    uint32_t level, time_used;
    uint64_t time, step, read_step;
    int cancel_at_call;
    bool hook_cancel;
    uint64_t flip;
    uint32_t rc;
    uint64_t filled, hook_written, done;
  } kCases[] = {
      {"level 0: 50 ms", 0, 0, 30000, 10, 0, -1, false, 4 * kSpan + 3, kRcOk, 4 * kSpan, 4 * kSpan,
       4 * kSpan},
      {"level 0 ignores run time", 0, 1, 320, 10, 0, -1, false, 4 * kSpan + 3, kRcOk, 4 * kSpan,
       4 * kSpan, 4 * kSpan},
      {"level 1: run time / 16", 1, 1, 1600, 10, 0, -1, false, 9 * kSpan + 3, kRcOk, 9 * kSpan,
       9 * kSpan, 9 * kSpan},
      {"level 2: no limit", 2, 0, 1600, 10, 0, -1, false, kNone, kRcOk, size, size, size},
      {"read checks what was written", 0, 0, 30000, 10, 0, -1, false, 4 * kSpan - 8, kRcCompare,
       4 * kSpan, 4 * kSpan, 4 * kSpan},
      {"read sweep cut", 0, 0, 30000, 1, 25, -1, false, 2 * kSpan, kRcOk, size, size, kSpan},
      {"cancel in write", 1, 1, 1ull << 40, 0, 0, 3, false, kNone, kRcCancel, kSpan, kNone, 0},
      {"cancel in read", 4, 0, 30000, 0, 0, -1, true, 0, kRcCancel, size, size, size},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    reset();
    Ex_dwTestLevel = c.level;
    execute_time_used = c.time_used;
    execute_time = c.time;
    g_clock_step = c.step;
    g_plan.read_clock_step = c.read_step;
    g_cancel_at_call = c.cancel_at_call;
    g_plan.cancel = c.hook_cancel;
    if (c.flip != kNone) g_plan.flips = {{c.flip, 0x01}};
    Guarded buf(size);
    uint64_t done = 0;
    EXPECT_EQ(VykTp2MSCAN(kDataCrossTalk, buf.data(), size, nullptr, &done), c.rc);
    EXPECT_EQ(g_plan.written, c.hook_written);
    EXPECT_EQ(done, c.done);
    execute_cancel = 0;
    EXPECT_EQ(Error_Details.error_class, c.rc == kRcCompare ? kClassCompare : 0u);
    EXPECT_EQ(Error_Details.offset_ref, c.rc == kRcCompare ? c.flip : 0u);
    const bool flipped_last = c.flip >= c.filled - 8 && c.flip < c.filled;
    EXPECT_NE(std::memcmp(buf.data() + c.filled - 8, unit_at(kDataCrossTalk, c.filled - 8).data(),
                          8) == 0,
              flipped_last);
    for (uint64_t i = c.filled; i < size; ++i) {
      ASSERT_EQ(buf.data()[i], i == c.flip ? (kSentinel ^ 1) : kSentinel) << i;
    }
  }
}

// A start wait sleeps the full pause unless the run time ran out meanwhile;
// level 0 never waits.
TEST_F(MscanTest, StartWait) {
  const struct {
    uint32_t level, time_used;
    int sleeps;
    bool swept;
  } kCases[] = {{1, 1, 0, false}, {1, 0, 2, true}, {0, 0, 0, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.level << " " << c.time_used);
    reset();
    execute_waitsec_used = 1;
    execute_waitsec = 2;
    Ex_dwTestLevel = c.level;
    execute_time_used = c.time_used;
    execute_time = 1000;
    Ex_Prev_MSec = 1700000000000ull - 5000;
    Guarded buf(kSpan);
    EXPECT_EQ(VykTp2MSCAN(kDataRepeat, buf.data(), kSpan, nullptr, nullptr), kRcOk);
    EXPECT_EQ(g_sleeps.load(), c.sleeps);
    EXPECT_EQ(g_plan.written, c.swept ? kSpan : kNone);
    EXPECT_EQ(buf.untouched(), !c.swept);
  }
}

// Bad buffers are parameter errors; size 0, a cancel before the call and an
// unknown kind return quietly. None of them touches the buffer or `done`.
TEST_F(MscanTest, EarlyReturnsTouchNothing) {
  const struct {
    uint16_t kind;
    bool null_buffer;
    uint64_t size;
    bool cancel;
    uint32_t rc;
  } kCases[] = {
      {kDataRepeat, false, 12, false, kRcParam},
      {kDataRepeat, true, 64, false, kRcParam},
      {kDataRepeat, false, 0x8004, false, kRcParam},
      {kDataCrossTalk, false, 0, false, kRcOk},
      {kDataCrossTalk, false, kSpan, true, kRcCancel},
      {kDataRepeat, false, kSpan, true, kRcCancel},
      {7, false, kSpan, false, kRcSyscall},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.kind << " " << c.size << " " << c.cancel);
    reset();
    execute_cancel = c.cancel ? 1 : 0;
    Guarded buf(c.size);
    uint64_t done = 0x1234;
    EXPECT_EQ(VykTp2MSCAN(c.kind, c.null_buffer ? nullptr : buf.data(), c.size, nullptr, &done),
              c.rc);
    EXPECT_EQ(done, 0x1234u);
    EXPECT_EQ(g_plan.written, c.size == 0 ? 0 : kNone);
    EXPECT_TRUE(buf.untouched());
    const bool param = c.rc == kRcParam;
    EXPECT_EQ(Error_Details.error_class, param ? kClassParam : 0u);
    EXPECT_EQ(Error_Details.error_code, param ? 51u : 0u);
    EXPECT_EQ(Ex_error_list_level.load(), param ? 0x80000000u : 0u);
    const std::string out = capture_.text();
    EXPECT_EQ(count_of(out,
                       " ABORT   : Getting Address is not appropriate(Bad Address "
                       "Boundary)\n"),
              param ? 1u : 0u)
        << out;
    char warn[128];
    std::snprintf(warn, sizeof warn,
                  "_MSCAN()  InValid BufferSize 0x%08x%08x or LpMainMemoryBuffer is passed NULL",
                  static_cast<unsigned>(c.size >> 32), static_cast<unsigned>(c.size));
    EXPECT_EQ(count_of(out, warn), param ? 1u : 0u) << out;
  }
}

}  // namespace

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
#include "driver/memstruct.h"
#include "params/param.h"
#include "progress/clock.h"
#include "test_support.h"

namespace {

constexpr uint64_t kSpan = 0x8000;
constexpr uint8_t kSentinel = 0x5a;

// Fake time of day: every reading advances by the current step.
std::atomic<uint64_t> g_clock_ms{0};
std::atomic<uint64_t> g_clock_step{0};
std::atomic<int> g_clock_calls{0};
std::atomic<int> g_cancel_at_call{-1};

int fake_timeofday(struct timeval* tv) {
  int call = ++g_clock_calls;
  if (call == g_cancel_at_call.load()) execute_cancel = 1;
  uint64_t ms = g_clock_ms.fetch_add(g_clock_step.load());
  uint64_t total = 1700000000000ull + ms;
  tv->tv_sec = static_cast<time_t>(total / 1000);
  tv->tv_usec = static_cast<suseconds_t>((total % 1000) * 1000);
  return 0;
}

// What the sweep hook does between the sweeps.
struct HookPlan {
  std::vector<std::pair<uint64_t, uint8_t>> flips;  // byte offset, bit mask
  uint64_t written = ~uint64_t{0};
  uint64_t new_clock_step = 0;
  bool change_clock = false;
  bool cancel = false;
  std::vector<uint8_t> snapshot;
  uint64_t snapshot_size = 0;
};
HookPlan g_plan;

void plan_hook(void* buffer, uint64_t written) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  g_plan.written = written;
  if (g_plan.snapshot_size != 0) g_plan.snapshot.assign(bytes, bytes + g_plan.snapshot_size);
  for (auto [off, mask] : g_plan.flips) bytes[off] ^= mask;
  if (g_plan.change_clock) g_clock_step = g_plan.new_clock_step;
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
    reset_globals();
    Ex_dwTestLevel = 4;  // no sweep limit unless a test asks for one
    set_mscan_sweep_hook(&plan_hook);
    set_timeofday_fn(&fake_timeofday);
    capture_.clear();
  }
  void TearDown() override {
    set_mscan_sweep_hook(nullptr);
    set_timeofday_fn(nullptr);
    reset_globals();
    tp_area_ctl(kAreaFreeAll, 0);
    test_inf_clear();
  }
  static void reset_globals() {
    g_plan = HookPlan{};
    g_clock_ms = 0;
    g_clock_step = 0;
    g_clock_calls = 0;
    g_cancel_at_call = -1;
    Ex_dwTestLevel = 0;
    execute_time = 30000;
    execute_time_used = 0;
    execute_waitsec_used = 0;
    execute_cancel = 0;
    std::memset(Fake_Err, 0, sizeof Fake_Err);
    std::memset(&Error_Details, 0, sizeof Error_Details);
    Ex_error_list_level = 0;
  }
  // A buffer with sentinel bytes on both sides.
  struct Guarded {
    explicit Guarded(uint64_t size) : mem(size + 64, kSentinel), size(size) {}
    uint8_t* data() { return mem.data() + 32; }
    bool guards_intact() const {
      for (size_t i = 0; i < 32; ++i) {
        if (mem[i] != kSentinel || mem[32 + size + i] != kSentinel) return false;
      }
      return true;
    }
    std::vector<uint8_t> mem;
    uint64_t size;
  };

  testsupport::OutputCapture capture_;
};

TEST_F(MscanTest, CleanBufferPassesAndHoldsThePattern) {
  const uint64_t size = 2 * kSpan + 0x1008;
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    Guarded buf(size);
    g_plan = HookPlan{};
    g_plan.snapshot_size = size;
    uint64_t done = 0;
    EXPECT_EQ(VykTp2MSCAN(kind, buf.data(), size, nullptr, &done), kRcOk);
    EXPECT_EQ(done, size);
    EXPECT_EQ(g_plan.written, size);
    EXPECT_TRUE(buf.guards_intact());
    ASSERT_EQ(g_plan.snapshot.size(), size);
    for (uint64_t off = 0; off < size; off += 8) {
      ASSERT_EQ(std::memcmp(&g_plan.snapshot[off], unit_at(kind, off).data(), 8), 0)
          << "kind " << kind << " offset " << off;
    }
    EXPECT_EQ(Error_Details.error_class, 0u);
  }
  EXPECT_EQ(count_of(capture_.text(), "Data Compare Error"), 0u);
}

TEST_F(MscanTest, FlippedBitIsReportedLikeTheUnitAlgorithm) {
  const uint64_t size = 3 * kSpan + 0x40;
  struct Case {
    uint64_t byte;
    uint8_t mask;
  };
  const Case cases[] = {
      {0x10, 0x01},         {0x13, 0x80},          {kSpan - 1, 0x10}, {kSpan, 0x02},
      {kSpan + 0x0d, 0x40}, {2 * kSpan + 7, 0x01}, {size - 8, 0x04},  {size - 1, 0x80},
  };
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "kind " << kind << " byte 0x" << std::hex << c.byte);
      capture_.clear();
      Guarded buf(size);
      g_plan = HookPlan{};
      g_plan.flips = {{c.byte, c.mask}};
      uint64_t done = 0;
      ASSERT_EQ(VykTp2MSCAN(kind, buf.data(), size, nullptr, &done), kRcCompare);
      const uint64_t unit = c.byte & ~uint64_t{7};
      const Error_Details_t& d = Error_Details;
      EXPECT_EQ(d.error_code, 1u);
      EXPECT_EQ(d.offset_ref, unit);
      EXPECT_EQ(d.mismatch_offset, c.byte - unit);
      std::array<uint8_t, 8> want = unit_at(kind, unit);
      ASSERT_NE(d.expected_data, nullptr);
      EXPECT_EQ(std::memcmp(d.expected_data, want.data(), 8), 0);
      want[c.byte - unit] ^= c.mask;
      EXPECT_EQ(std::memcmp(d.actual_data, want.data(), 8), 0);
      EXPECT_EQ(done, size);  // set by the write sweep; the read sweep did not finish
      std::string out = capture_.text();
      EXPECT_EQ(count_of(out, " ERROR   : MSCAN Data Compare Error(Ref No. 1)\n"), 1u);
      char act[64];
      std::snprintf(act, sizeof act, " Act.Address (+%lx) ", static_cast<unsigned long>(unit));
      EXPECT_EQ(count_of(out, act), 1u) << out;
    }
  }
}

TEST_F(MscanTest, LowestOfSeveralFlipsIsReported) {
  const uint64_t size = 4 * kSpan;
  Guarded buf(size);
  g_plan.flips = {{3 * kSpan + 8, 0x01}, {kSpan + 0x21, 0x08}, {kSpan + 0x26, 0x20}};
  EXPECT_EQ(VykTp2MSCAN(kDataCrossTalk, buf.data(), size, nullptr, nullptr), kRcCompare);
  EXPECT_EQ(Error_Details.offset_ref, kSpan + 0x20);
  EXPECT_EQ(Error_Details.mismatch_offset, 1u);
}

TEST_F(MscanTest, InjectedFaultReportsTheFirstUnitOnce) {
  Fake_Err[0] = 1;
  for (uint16_t kind : {kDataCrossTalk, kDataRepeat}) {
    capture_.clear();
    Guarded buf(2 * kSpan);
    uint64_t done = 0;
    EXPECT_EQ(VykTp2MSCAN(kind, buf.data(), 2 * kSpan, nullptr, &done), kRcCompare);
    EXPECT_EQ(Error_Details.offset_ref, 0u);
    EXPECT_EQ(Error_Details.mismatch_offset, 0u);
    const auto* actual = static_cast<const uint8_t*>(Error_Details.actual_data);
    ASSERT_NE(actual, nullptr);
    const uint8_t injected[4] = {0xEF, 0xBE, 0xEF, 0xBE};
    EXPECT_EQ(std::memcmp(actual, injected, 4), 0);
    EXPECT_EQ(std::memcmp(actual + 4, unit_at(kind, 0).data() + 4, 4), 0);
    EXPECT_EQ(count_of(capture_.text(), "MSCAN Data Compare Error(Ref No. 1)"), 1u);
  }
}

TEST_F(MscanTest, BadBufferIsAParameterError) {
  struct Case {
    bool null_buffer;
    uint64_t size;
  };
  for (Case c : {Case{false, 12}, Case{true, 64}, Case{false, 0x8004}}) {
    capture_.clear();
    Ex_error_list_level = 0;
    Guarded buf(c.size);
    uint64_t done = 0;
    void* p = c.null_buffer ? nullptr : buf.data();
    EXPECT_EQ(VykTp2MSCAN(kDataRepeat, p, c.size, nullptr, &done), kRcParam);
    EXPECT_EQ(done, 0u);
    EXPECT_EQ(g_plan.written, ~uint64_t{0});  // no sweep ran
    for (uint8_t b : buf.mem) ASSERT_EQ(b, kSentinel);
    EXPECT_EQ(Error_Details.error_class, kClassParam);
    EXPECT_EQ(Error_Details.error_code, 51u);
    EXPECT_EQ(Ex_error_list_level.load(), 0x80000000u);
    std::string out = capture_.text();
    EXPECT_EQ(count_of(out,
                       " ABORT   : Getting Address is not appropriate(Bad Address "
                       "Boundary)\n"),
              1u)
        << out;
    char warn[128];
    std::snprintf(warn, sizeof warn,
                  "_MSCAN()  InValid BufferSize 0x%08x%08x or LpMainMemoryBuffer is passed NULL",
                  static_cast<unsigned>(c.size >> 32), static_cast<unsigned>(c.size));
    EXPECT_EQ(count_of(out, warn), 1u) << out;
  }
}

// The clock advances 10 ms per reading: the first reading starts the sweep,
// the k-th check reads start + 10k, so a limit of L ms cuts the sweep at the
// check of offset (L/10 - 1) x 32 KiB.
TEST_F(MscanTest, SweepLimitCutsTheWriteSweep) {
  struct Case {
    uint32_t level;
    uint32_t time_used;
    uint64_t time;
    uint64_t cut;  // 0: no cut
  };
  const uint64_t size = 16 * kSpan;
  const Case cases[] = {
      {0, 0, 30000, 4 * kSpan},  // 50 ms
      {0, 1, 320, 4 * kSpan},    // level 0 ignores the run time
      {1, 1, 1600, 9 * kSpan},   // run time / 16 = 100 ms
      {2, 0, 1600, 0},           // no limit
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "level " << c.level << " time " << c.time);
    Ex_dwTestLevel = c.level;
    execute_time_used = c.time_used;
    execute_time = c.time;
    g_clock_step = 10;
    Guarded buf(size);
    g_plan = HookPlan{};
    // A flip beyond the written part must go unnoticed; one inside is found.
    if (c.cut != 0) g_plan.flips = {{c.cut + 3, 0x01}};
    uint64_t done = 0;
    EXPECT_EQ(VykTp2MSCAN(kDataCrossTalk, buf.data(), size, nullptr, &done), kRcOk);
    uint64_t written = c.cut != 0 ? c.cut : size;
    EXPECT_EQ(g_plan.written, written);
    EXPECT_EQ(done, written);
    for (uint64_t i = written; i < size; ++i) {
      // Only the flipped bit changed the unwritten part.
      ASSERT_EQ(buf.data()[i], i == written + 3 ? (kSentinel ^ 1) : kSentinel) << i;
    }
  }
  // The read sweep checks everything that was written.
  Ex_dwTestLevel = 0;
  g_clock_step = 10;
  Guarded buf(size);
  g_plan = HookPlan{};
  g_plan.flips = {{4 * kSpan - 8, 0x01}};
  EXPECT_EQ(VykTp2MSCAN(kDataCrossTalk, buf.data(), size, nullptr, nullptr), kRcCompare);
  EXPECT_EQ(Error_Details.offset_ref, 4 * kSpan - 8);
}

TEST_F(MscanTest, SweepLimitCutsTheReadSweep) {
  const uint64_t size = 8 * kSpan;
  Ex_dwTestLevel = 0;
  Guarded buf(size);
  g_clock_step = 1;  // the write sweep completes
  g_plan.change_clock = true;
  g_plan.new_clock_step = 25;  // the read sweep is cut at its second check
  g_plan.flips = {{2 * kSpan, 0x01}};
  uint64_t done = 0x77;
  EXPECT_EQ(VykTp2MSCAN(kDataRepeat, buf.data(), size, nullptr, &done), kRcOk);
  EXPECT_EQ(g_plan.written, size);
  EXPECT_EQ(done, kSpan);
  EXPECT_EQ(Error_Details.error_class, 0u);
}

TEST_F(MscanTest, CancelIsSeenWithinOneSpan) {
  // During the write sweep: the third clock reading is the check at 32 KiB.
  Ex_dwTestLevel = 1;
  execute_time_used = 1;
  execute_time = 1ull << 40;
  g_cancel_at_call = 3;
  const uint64_t size = 4 * kSpan;
  Guarded buf(size);
  EXPECT_EQ(VykTp2MSCAN(kDataCrossTalk, buf.data(), size, nullptr, nullptr), kRcCancel);
  EXPECT_EQ(g_plan.written, ~uint64_t{0});
  execute_cancel = 0;
  EXPECT_EQ(std::memcmp(buf.data() + kSpan - 8, unit_at(kDataCrossTalk, kSpan - 8).data(), 8), 0);
  for (uint64_t i = kSpan; i < size; ++i) ASSERT_EQ(buf.data()[i], kSentinel) << i;

  // During the read sweep, without any time limit.
  Ex_dwTestLevel = 4;
  execute_time_used = 0;
  g_cancel_at_call = -1;
  g_plan = HookPlan{};
  g_plan.cancel = true;
  g_plan.flips = {{0, 0x01}};  // not reached: the cancel comes first
  EXPECT_EQ(VykTp2MSCAN(kDataRepeat, buf.data(), size, nullptr, nullptr), kRcCancel);
  EXPECT_EQ(Error_Details.error_class, 0u);
}

std::atomic<int> g_sleeps{0};
void count_sleep(unsigned seconds) {
  g_sleeps += static_cast<int>(seconds);
}

TEST_F(MscanTest, StartWait) {
  set_sleep_fn(&count_sleep);
  execute_waitsec_used = 1;
  execute_waitsec = 2;
  Ex_dwTestLevel = 1;
  Guarded buf(kSpan);

  // The run time ran out during the wait: normal end, nothing touched.
  execute_time_used = 1;
  execute_time = 1000;
  Ex_Prev_MSec = 1700000000000ull - 5000;
  g_sleeps = 0;
  EXPECT_EQ(VykTp2MSCAN(kDataRepeat, buf.data(), kSpan, nullptr, nullptr), kRcOk);
  EXPECT_EQ(g_sleeps.load(), 0);
  for (uint8_t b : buf.mem) ASSERT_EQ(b, kSentinel);

  // Time left: the full pause, then the sweeps.
  execute_time_used = 0;
  EXPECT_EQ(VykTp2MSCAN(kDataRepeat, buf.data(), kSpan, nullptr, nullptr), kRcOk);
  EXPECT_EQ(g_sleeps.load(), 2);
  EXPECT_EQ(g_plan.written, kSpan);

  // Level 0 never waits.
  Ex_dwTestLevel = 0;
  EXPECT_EQ(VykTp2MSCAN(kDataRepeat, buf.data(), kSpan, nullptr, nullptr), kRcOk);
  EXPECT_EQ(g_sleeps.load(), 2);

  set_sleep_fn(nullptr);
  execute_waitsec = 0;
  Ex_Prev_MSec = 0;
}

TEST_F(MscanTest, TraceLines) {
  testsupport::TempDir dir;
  std::snprintf(TEST_INF.trace_log_base, sizeof TEST_INF.trace_log_base, "%s/memot",
                dir.path().c_str());
  TEST_INF.log_size_limit = 1 << 20;
  TEST_INF.log_generations = 2;
  Guarded buf(kSpan);
  g_plan.flips = {{0x18, 0x01}};
  EXPECT_EQ(VykTp2MSCAN(kDataCrossTalk, buf.data(), kSpan, nullptr, nullptr), kRcCompare);
  std::string trace = testsupport::read_file(dir.file("memot_log.0"));
  char logical[96];
  std::snprintf(logical, sizeof logical,
                ",I0359,Logical Address=0x%08x Physical Address=0x0000000000000000\n",
                static_cast<unsigned>(reinterpret_cast<uintptr_t>(buf.data())));
  EXPECT_EQ(count_of(trace, ",I0356,_MSCAN()  Started\n"), 1u) << trace;
  EXPECT_EQ(count_of(trace, logical), 1u) << trace;
  EXPECT_EQ(count_of(trace, ",00000,_CompareBuffer()  mem_dev_name=ADDRESS;0000000000000000\n"), 1u)
      << trace;
}

// Size 0, a cancel before the call and an unknown kind touch nothing; an
// uninterrupted run leaves the done counter alone.
TEST_F(MscanTest, ReturnsWithoutTouchingTheBuffer) {
  const struct {
    uint16_t kind;
    uint64_t size;
    bool cancel;
    uint32_t rc;
    bool written;
  } kCases[] = {{kDataCrossTalk, 0, false, kRcOk, false},
                {kDataCrossTalk, kSpan, true, kRcCancel, false},
                {kDataRepeat, kSpan, true, kRcCancel, false},
                {7, kSpan, false, kRcSyscall, false},
                {kDataRepeat, kSpan, false, kRcOk, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.kind << " " << c.size << " " << c.cancel);
    execute_cancel = c.cancel ? 1 : 0;
    Guarded buf(c.size);
    uint64_t done = 0x1234;
    EXPECT_EQ(VykTp2MSCAN(c.kind, buf.data(), c.size, nullptr, &done), c.rc);
    EXPECT_EQ(done, 0x1234u);
    const auto untouched = std::count(buf.mem.begin(), buf.mem.end(), kSentinel);
    EXPECT_EQ(untouched == static_cast<std::ptrdiff_t>(buf.mem.size()), !c.written);
  }
}

}  // namespace

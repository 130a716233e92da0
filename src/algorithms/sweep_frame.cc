// The frame the algorithms share.
#include "algorithms/sweep_frame.h"

#include <cstring>

#include "algorithms/buffer_access.h"
#include "algorithms/error_disp.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "progress/clock.h"

namespace sweep {
namespace {

// Unit areas of the last reported compare. Static, so that Error_Details,
// which points at them, stays valid after the algorithm has returned.
uint8_t g_actual[8];
uint8_t g_expected[8];

}  // namespace

void trace_started(const char* name) {
  printfx(kPfTraceMsg, "Ixx56", name, "Started");
}

bool start_wait_expired() {
  if (execute_waitsec_used.load(std::memory_order_relaxed) != 1) return false;
  if (Ex_dwTestLevel.load(std::memory_order_relaxed) == 0) return false;
  return memtest_sleep() == 1;
}

uint32_t reject_buffer(const char* name, uint64_t size, uint32_t flags) {
  printfx(flags, "Wxx57", name, "InValid BufferSize 0x", static_cast<unsigned>(size >> 32),
          static_cast<unsigned>(size), "or LpMainMemoryBuffer is passed NULL");
  Error_Details.error_class = kClassParam;
  Error_Details.error_code = 51;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.device_text = TEST_INF.device_name;
  VykTp2MemErrorDisp(&Error_Details);
  return kRcParam;
}

void SweepLimit::begin() {
  // Level-0 sweeps work in 50 ms slices; a timed run checks a sixteenth of
  // its run time per sweep.
  constexpr uint64_t kPatrolSliceMs = 50;
  limit_ = slice_or_run_time(Ex_dwTestLevel.load(std::memory_order_relaxed), kPatrolSliceMs, 4);
  start_ = memtest_GetTickCount();
}

bool SweepLimit::elapsed() const {
  return time_limit_over(limit_, start_);
}

uint32_t report_mismatch(const void* actual, const void* expected, uint64_t off, uint32_t ref,
                         const void* buffer, VykTp2MemStruct_t* ctl, uint64_t* mismatch,
                         const char* other, int arg) {
  // Another test thread has reported first: its error stands alone.
  if (!first_error_claim()) return kRcCancel;
  const uint32_t rc = VykTp2CompareBuffer(actual, expected, 8, mismatch, ctl, ref, buffer, off);
  if (rc == kRcOk) first_error_unclaim();
  if (rc != kRcOk && rc != kRcCompare) printfx(kPfTraceText, other, arg);
  return rc;
}

uint32_t report_unit(const Miss& miss, uint32_t ref, const void* buffer, VykTp2MemStruct_t* ctl,
                     uint64_t* mismatch, const char* other, int arg) {
  if (!first_error_claim()) return kRcCancel;
  std::memcpy(g_actual, &miss.value, 8);
  std::memcpy(g_expected, &miss.expect, 8);
  return report_mismatch(g_actual, g_expected, miss.off, ref, buffer, ctl, mismatch, other, arg);
}

}  // namespace sweep

// MSCAN: one ascending write sweep, one ascending read-and-compare sweep.
//
// Both sweeps work in spans of 32 KiB, the distance between two time checks.
// A span is written by streaming the pattern's period table and verified in
// bulk; only a span whose bulk compare fails (or every span with fault
// injection) is walked again unit by unit with the exact unit operations, so
// that the report is the one the unit-by-unit algorithm gives.
#include "algorithms/mscan.h"

#include <algorithm>
#include <cstring>

#include "algorithms/buffer_access.h"
#include "algorithms/error_disp.h"
#include "algorithms/pattern.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "progress/clock.h"
#include "state/memstruct.h"
#include "state/param_block.h"

namespace {

constexpr uint64_t kCheckInterval = 0x8000;
constexpr uint64_t kAllOnes = ~uint64_t{0};
constexpr uint32_t kRefMscan = 1;
constexpr uint32_t kTraceFlags = kPfTrace | kPfDebug;

MscanSweepHook g_sweep_hook = nullptr;

// Unit areas of the last compare. Static so that Error_Details, which points
// at them, stays valid after MSCAN has returned.
uint8_t g_actual[8];
uint8_t g_expected[8];

struct SweepLimit {
  bool active = false;
  uint64_t ms = 0;
  uint64_t start = 0;

  // Chosen afresh for each sweep, measured from its start.
  void begin() {
    if (Ex_dwTestLevel.load(std::memory_order_relaxed) == 0) {
      active = true;
      ms = 50;
    } else if (execute_time_used.load(std::memory_order_relaxed) == 1) {
      active = true;
      ms = execute_time >> 4;
    } else {
      active = false;
    }
    start = memtest_GetTickCount();
  }

  bool elapsed() const {
    if (!active) return false;
    uint64_t now = memtest_GetTickCount();
    return memtest_CmpTickCount(ms, 0, &start, &now) == 0;
  }
};

bool cancel_requested() {
  return execute_cancel.load(std::memory_order_relaxed) == 1;
}

uint32_t reject_buffer(uint64_t size) {
  printfx(kPfMsgNo | kTraceFlags | kPfLog1, "Wxx57", "_MSCAN", "InValid BufferSize 0x",
          static_cast<unsigned>(size >> 32), static_cast<unsigned>(size),
          "or LpMainMemoryBuffer is passed NULL");
  Error_Details.error_class = kClassParam;
  Error_Details.error_code = 51;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.device_text = TEST_INF.device_name;
  VykTp2MemErrorDisp(&Error_Details);
  return kRcParam;
}

uint32_t write_units(uint16_t kind, void* buffer, uint64_t from, uint64_t to,
                     VykTp2MemStruct_t* ctl) {
  for (uint64_t off = from; off < to; off += 8) {
    uint32_t rc = VykTp2WriteToMemory(buffer, off, ctl, kind, 8);
    if (rc != kRcOk) return rc;
  }
  return kRcOk;
}

// The exact read-generate-compare steps over [from, to).
uint32_t check_units(uint16_t kind, void* buffer, uint64_t from, uint64_t to,
                     VykTp2MemStruct_t* ctl, uint64_t* mismatch) {
  static constexpr uint8_t kInjected[4] = {0xEF, 0xBE, 0xEF, 0xBE};
  for (uint64_t off = from; off < to; off += 8) {
    uint32_t rc = VykTp2ReadFromMemory(buffer, off, ctl, g_actual, 8);
    if (rc != kRcOk) return rc;
    rc = VykTp2GeneratePattern(8, static_cast<int64_t>(off), g_expected, 8, ctl, kind);
    if (rc != kRcOk) return rc;
    if (Fake_Err[0] == 1) std::memcpy(g_actual, kInjected, sizeof kInjected);
    rc = VykTp2CompareBuffer(g_actual, g_expected, 8, mismatch, ctl, kRefMscan, buffer, off);
    if (rc != kRcOk && rc != kRcCompare) {
      printfx(kPfFormat | kTraceFlags, "_MSCAN()  Error Classify is enything else.\n");
      return rc;
    }
    if (*mismatch != kAllOnes) return rc;
  }
  return kRcOk;
}

}  // namespace

void set_mscan_sweep_hook(MscanSweepHook hook) {
  g_sweep_hook = hook;
}

uint32_t VykTp2MSCAN(uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint64_t* done) {
  // A caller without a done counter still gets a complete run.
  uint64_t local_done = 0;
  if (done == nullptr) done = &local_done;

  printfx(kPfMsgNo | kTraceFlags, "Ixx56", "_MSCAN", "Started");
  if (execute_waitsec_used.load(std::memory_order_relaxed) == 1 &&
      Ex_dwTestLevel.load(std::memory_order_relaxed) != 0) {
    if (memtest_sleep() == 1) return kRcOk;
  }

  std::memset(&Error_Details, 0, sizeof Error_Details);
  uint64_t mismatch = kAllOnes;
  uint64_t end = size;
  if (buffer == nullptr || size % 8 != 0) return reject_buffer(size);

  const uint64_t* table = pattern_period_table(kind);
  auto* bytes = static_cast<unsigned char*>(buffer);

  // Write sweep.
  SweepLimit limit;
  limit.begin();
  uint64_t off = 0;
  while (off < end) {
    if (limit.elapsed()) {
      *done = off;
      end = off;
      break;
    }
    // What the unit writes would have returned once the generator saw it.
    if (cancel_requested()) return kRcCancel;
    uint64_t span_end = std::min(end, off + kCheckInterval);
    if (table != nullptr) {
      pattern_stream_fill(table, bytes + static_cast<uintptr_t>(off), off, span_end - off);
    } else {
      uint32_t rc = write_units(kind, buffer, off, span_end, ctl);
      if (rc != kRcOk) return rc;
    }
    off = span_end;
  }
  if (*done == 0) *done = off;

  if (g_sweep_hook != nullptr) g_sweep_hook(buffer, end);

  // Read sweep.
  limit.begin();
  off = 0;
  while (off < end) {
    if (limit.elapsed()) {
      *done = off;
      return kRcOk;
    }
    if (cancel_requested()) return kRcCancel;
    uint64_t span_end = std::min(end, off + kCheckInterval);
    bool bulk_ok =
        table != nullptr && Fake_Err[0] != 1 &&
        pattern_stream_equal(table, bytes + static_cast<uintptr_t>(off), off, span_end - off);
    if (!bulk_ok) {
      uint32_t rc = check_units(kind, buffer, off, span_end, ctl, &mismatch);
      if (rc != kRcOk) return rc;
    }
    off = span_end;
  }
  // A cancel that arrived during the last span would have stopped the unit
  // generator there.
  if (end > 0 && cancel_requested()) return kRcCancel;
  if (*done == 0) *done = off;
  return kRcOk;
}

// MARCH: write the pattern upwards; read, verify (Ref No. 2) and invert each
// unit upwards; read, verify the complement (Ref No. 3) and restore each unit
// downwards. MARCHX lays 0xCAFECAFE over the first value of the third sweep.
#pragma once

#include <cstring>

#include "algorithms/sweep_frame.h"
#include "common/logfile.h"

template <class Mem>
uint32_t march_body(Mem& mem, uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                    uint64_t* done) {
  using namespace sweep;
  static constexpr uint8_t kInjected[4] = {0xFE, 0xCA, 0xFE, 0xCA};
  uint64_t local_done = 0;
  if (done == nullptr) done = &local_done;

  trace_started("_MARCH");
  if (start_wait_expired()) return kRcOk;
  sweep::clear_error_details();
  uint64_t mismatch = kAllOnes;
  uint64_t end = size;
  if (buffer == nullptr || size % 8 != 0) {
    return reject_buffer("_MARCH", size, kPfTraceMsg | kPfLogRecord1);
  }
  const uint64_t* plain = pattern_period_table(kind);
  const uint64_t* inverted = pattern_period_table(kind, PeriodForm::kInverted);

  // Sweep 1: write P upwards.
  SweepLimit limit;
  limit.begin();
  SweepEnd s = sweep_up(limit, end, [&](uint64_t from, uint64_t to) {
    if (plain == nullptr) return kRcSyscall;  // refused by the generator
    mem.fill(plain, from, to);
    return kRcOk;
  });
  if (s.rc != kRcOk) return s.rc;
  if (s.cut) *done = end = s.reached;
  printfx(kPfTraceText, "_MARCH()  Step 1 Complete\n");
  settle_done(done, s.reached);

  // Sweep 2: verify P and invert, upwards. The wait counts towards its limit.
  limit.begin();
  if (start_wait_expired()) return kRcOk;
  const Verify up{plain, Then::kInvert, inverted, false, nullptr};
  s = sweep_up(limit, end, [&](uint64_t from, uint64_t to) {
    Miss miss;
    if (mem.verify(up, from, to, &miss)) return kRcOk;
    return report_unit(miss, 2, buffer, ctl, &mismatch,
                       "_MARCH()  Step2 Error Classify is enything else.\n");
  });
  if (s.rc != kRcOk) return s.rc;
  if (s.cut) *done = end = s.reached;
  printfx(kPfTraceText, "_MARCH()  Step 2 Complete\n");
  settle_done(done, s.reached);

  // Sweep 3: verify ~P and restore P, downwards.
  limit.begin();
  if (start_wait_expired()) return kRcOk;
  const Verify down{inverted, Then::kWrite, plain, true, Fake_Err[1] == 1 ? kInjected : nullptr};
  s = sweep_down(limit, end, [&](uint64_t from, uint64_t to) {
    Miss miss;
    if (mem.verify(down, from, to, &miss)) return kRcOk;
    return report_unit(miss, 3, buffer, ctl, &mismatch,
                       "_MARCH()  Step3 Error Classify is enything else.\n");
  });
  if (s.rc != kRcOk || s.cut) return s.rc;
  printfx(kPfTraceText, "_MARCH()  Step 3 Complete\n");
  return kRcOk;
}

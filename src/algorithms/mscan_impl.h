// MSCAN: one ascending write sweep, one ascending read-and-compare sweep
// (Ref No. 1). MSCANX lays 0xBEEFBEEF over the first value read back.
#pragma once

#include <cstring>

#include "algorithms/sweep_frame.h"
#include "common/logfile.h"

template <class Mem>
uint32_t mscan_body(Mem& mem, uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                    uint64_t* done) {
  using namespace sweep;
  static constexpr uint8_t kInjected[4] = {0xEF, 0xBE, 0xEF, 0xBE};
  // A caller without a done counter still gets a complete run.
  uint64_t local_done = 0;
  if (done == nullptr) done = &local_done;

  trace_started("_MSCAN");
  if (start_wait_expired()) return kRcOk;
  sweep::clear_error_details();
  uint64_t mismatch = kAllOnes;
  uint64_t end = size;
  if (buffer == nullptr || size % 8 != 0) {
    return reject_buffer("_MSCAN", size, kPfTraceMsg | kPfLogRecord1);
  }
  const uint64_t* pattern = pattern_period_table(kind);

  SweepLimit limit;
  limit.begin();
  SweepEnd s = sweep_up(limit, end, [&](uint64_t from, uint64_t to) {
    // The generator refuses any other kind at the first unit.
    if (pattern == nullptr) return kRcSyscall;
    mem.fill(pattern, from, to);
    return kRcOk;
  });
  if (s.rc != kRcOk) return s.rc;
  if (s.cut) *done = end = s.reached;
  settle_done(done, s.reached);

  const Verify check{pattern, Then::kKeep, nullptr, false, Fake_Err[0] == 1 ? kInjected : nullptr};
  limit.begin();
  s = sweep_up(limit, end, [&](uint64_t from, uint64_t to) {
    Miss miss;
    if (mem.verify(check, from, to, &miss)) return kRcOk;
    return report_unit(miss, 1, buffer, ctl, &mismatch,
                       "_MSCAN()  Error Classify is enything else.\n");
  });
  if (s.rc != kRcOk) return s.rc;
  if (s.cut) {
    *done = s.reached;
    return kRcOk;
  }
  settle_done(done, s.reached);
  return kRcOk;
}

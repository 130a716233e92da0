// MASEST: lays the buffer out in pairs (P, then ~P), reads every unit, its
// mirror at the opposite end and the unit again (Ref No. 4 to 9), and
// verifies all pairs once more (Ref No. 10, 11). MASESTX lays 0xBEEFBEEF over
// the mirror reads of odd units.
#pragma once

#include <cstring>

#include "algorithms/sweep_frame.h"
#include "common/logfile.h"

template <class Mem>
uint32_t masest_body(Mem& mem, uint16_t kind, void* buffer, uint64_t size, VykTp2MemStruct_t* ctl,
                     uint64_t* done) {
  using namespace sweep;
  static constexpr uint8_t kInjected[4] = {0xEF, 0xBE, 0xEF, 0xBE};
  uint64_t local_done = 0;
  if (done == nullptr) done = &local_done;

  trace_started("_MASEST");
  sweep::clear_error_details();
  uint64_t mismatch = kAllOnes;
  uint64_t end = size;
  printfx(kPfTraceText, "_MASEST()  Used BufferSize 0x%x %x\n", static_cast<unsigned>(size),
          static_cast<unsigned>(size >> 32));
  if (buffer == nullptr || size % 16 != 0) {
    return reject_buffer("_MASEST", size, kPfTraceMsg);
  }
  const uint64_t* plain = pattern_period_table(kind);
  const uint64_t* pairs = pattern_period_table(kind, PeriodForm::kPairs);

  // Sweep 1: the pairs, upwards. The start wait counts towards its limit.
  SweepLimit limit;
  limit.begin();
  if (start_wait_expired()) return kRcOk;
  SweepEnd s = sweep_up(limit, end, [&](uint64_t from, uint64_t to) {
    if (plain == nullptr) return kRcSyscall;  // refused by the generator
    mem.fill_pairs(plain, pairs, from, to);
    return kRcOk;
  });
  if (s.rc != kRcOk) return s.rc;
  if (s.cut) *done = end = s.reached;
  printfx(kPfTraceText, "_MASEST()  Step 1 Complete\n");
  settle_done(done, s.reached);

  // Sweep 2: each unit, its mirror, the unit again. The first three odd
  // units whose mirror check passes are traced, the fourth as "    :".
  limit.begin();
  if (start_wait_expired()) return kRcOk;
  const uint8_t* inject = Fake_Err[2] == 1 ? kInjected : nullptr;
  uint32_t passed = 0;
  auto count_passed = [&](uint64_t odd_units) {
    for (; odd_units > 0 && passed < 4; --odd_units) {
      ++passed;
      printfx(kPfTraceText, passed < 4 ? "_MASEST()  Step2-5 Executed\n" : "    :\n");
    }
  };
  s = sweep_up(limit, end, [&](uint64_t from, uint64_t to) {
    Miss miss;
    if (mem.mirror(pairs, end, from, to, inject, &miss)) {
      count_passed((to - from) / 16);
      return kRcOk;
    }
    const uint64_t u = miss.read == 1 ? end - miss.off - 8 : miss.off;
    const bool odd = u % 16 != 0;
    count_passed((u - from) / 16 + (odd && miss.read == 2 ? 1 : 0));
    const uint32_t ref = (odd ? 7 : 4) + static_cast<uint32_t>(miss.read);
    return report_unit(miss, ref, buffer, ctl, &mismatch,
                       "_MASEST()  Step2-%d Error Classify is enything else.\n",
                       static_cast<int>(ref) - 3);
  });
  if (s.rc != kRcOk) return s.rc;
  if (s.cut) *done = end = s.reached;
  settle_done(done, s.reached);

  // Sweep 3: every pair once more.
  limit.begin();
  if (start_wait_expired()) return kRcOk;
  const Verify check{pairs, Then::kKeep, nullptr, false, nullptr};
  s = sweep_up(limit, end, [&](uint64_t from, uint64_t to) {
    Miss miss;
    if (mem.verify(check, from, to, &miss)) return kRcOk;
    const bool odd = miss.off % 16 != 0;
    return report_unit(miss, odd ? 11 : 10, buffer, ctl, &mismatch,
                       "_MASEST()  Step3-%d Error Classify is enything else.\n", odd ? 2 : 1);
  });
  if (s.rc != kRcOk) return s.rc;
  if (s.cut) {
    *done = s.reached;
    return kRcOk;
  }
  settle_done(done, s.reached);
  return kRcOk;
}

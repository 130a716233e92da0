// Moving inversion (IMOVE): the source half S is filled with walking ones
// (Ref No. 14) and walking zeros (Ref No. 15) in 32 rounds, then with two
// constants (Ref No. 16); after each fill S is copied onto the destination
// half D, and D is compared with S unit by unit. IMOVEX overwrites 24 bytes
// of D before each compare of the last pass.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "algorithms/sweep_frame.h"
#include "common/logfile.h"

namespace imove {

// True when the run-time limit, measured from the start of the run loop, is
// reached: 1000 ms at level 0, the run time when one is set.
bool run_time_over();

// Runs op(from, len) over [0, len) in 32 KiB spans, checking the cancel flag
// before each: kRcCancel or the first result of op that is not kRcOk.
template <class Op>
uint32_t in_spans(uint64_t len, uint64_t span, Op&& op) {
  for (uint64_t from = 0; from < len; from += span) {
    if (sweep::cancel_requested()) return kRcCancel;
    const uint32_t rc = op(from, std::min(span, len - from));
    if (rc != kRcOk) return rc;
  }
  return kRcOk;
}

// One pass: S filled from `period` (plen bytes, dividing 32 KiB) over
// fill_len bytes, copied onto D, then D compared with S unit by unit.
// Returns kRcOk, or the code that ends the test; *ended is set when the wait
// or the run-time check ends it normally.
template <class Mem>
uint32_t pass(Mem& mem, uint64_t h, const void* period, uint32_t plen, uint64_t fill_len,
              uint32_t ref, const void* buffer, VykTp2MemStruct_t* ctl, uint64_t* mismatch,
              bool wait, bool* ended) {
  static constexpr uint32_t kInjected[6] = {0xCAFECAFE, 0xBEEFBEEF, 0xDEADDEAD,
                                            0xCAFECAFE, 0xBEEFBEEF, 0xDEADDEAD};
  constexpr uint64_t kSpan = sweep::kCheckInterval;
  uint32_t rc = in_spans(fill_len, kSpan, [&](uint64_t from, uint64_t len) {
    mem.fill_bytes(from, len, period, plen);
    return kRcOk;
  });
  if (rc == kRcOk) {
    rc = in_spans(h, kSpan, [&](uint64_t from, uint64_t len) {
      mem.copy(h + from, from, len);
      return kRcOk;
    });
  }
  if (rc != kRcOk) return rc;
  if ((wait && sweep::start_wait_expired()) || run_time_over()) {
    *ended = true;
    return kRcOk;
  }
  // Every unit compare clears Error_Details first, so a pass with one leaves
  // it clear unless it reports.
  if (h > 0) sweep::clear_error_details();
  const bool inject = ref == 16 && Fake_Err[4] == 1;
  return in_spans(h, inject ? 8 : kSpan, [&](uint64_t from, uint64_t len) {
    if (inject) {
      // Nothing beyond the test area is written: the 24 bytes stop at its end.
      for (uint64_t n = 0; n < 24 && h + from + n < 2 * h; n += 8) {
        uint64_t v;
        std::memcpy(&v, reinterpret_cast<const unsigned char*>(kInjected) + n, 8);
        mem.write(h + from + n, v);
      }
    }
    Miss miss;
    if (mem.diff(h + from, from, len, &miss)) return kRcOk;
    const uint64_t o = from + miss.off;
    return sweep::report_mismatch(mem.show(h + o, miss.value), mem.show(o, miss.expect), o, ref,
                                  buffer, ctl, mismatch,
                                  "_moving_inversion()  Error Classify is enything else.\n", 0);
  });
}

// Fills `words` 32-bit words, word i being w rotated left by i bits: one
// 128-byte period.
inline void walking_period(uint32_t w, uint32_t* words) {
  for (int i = 0; i < 32; ++i) words[i] = std::rotl(w, i);
}

}  // namespace imove

template <class Mem>
uint32_t imove_body(Mem& mem, void* buffer, uint64_t length, VykTp2MemStruct_t* ctl,
                    uint64_t* done) {
  uint64_t local_done = 0;
  if (done == nullptr) done = &local_done;
  printfx(kPfTraceText, "_moving_inversion()  start\n");
  *done = 0;
  uint64_t mismatch = sweep::kAllOnes;
  uint32_t r = kRcOk;
  if (buffer == nullptr) {
    printfx(kPfTraceText, "_moving_inversion()  exp memory adr. error\n");
    return 0xFFFFFFFFu;
  }
  // Half of the low 32 bits, signed; a half that is not whole 8-byte units
  // is cut down to them (the chunk sizes of the main sequence never need it),
  // so no unit reaches past the area.
  const int32_t half = static_cast<int32_t>(static_cast<uint32_t>(length)) / 2;
  const uint64_t h = half > 0 ? static_cast<uint64_t>(half) / 8 * 8 : 0;

  bool ended = false;
  uint32_t w = 1;
  uint32_t period[32];
  for (int round = 0; round < 32; ++round) {
    imove::walking_period(w, period);
    r = imove::pass(mem, h, period, sizeof period, h, 14, buffer, ctl, &mismatch, true, &ended);
    if (r != kRcOk || ended) break;
    imove::walking_period(~w, period);
    r = imove::pass(mem, h, period, sizeof period, h, 15, buffer, ctl, &mismatch, false, &ended);
    if (r != kRcOk || ended) break;
    w = std::rotl(w, 1);
  }
  if (r == kRcOk && !ended) {
    // Units alternate the two constants, written two at a time while the
    // unit index is below h / 8: an odd count writes one unit into D, which
    // the copy then overwrites.
    static constexpr uint64_t kFinal[2] = {0x123456789ABCDEF0ull, 0xEDCBA9876543210Full};
    r = imove::pass(mem, h, kFinal, sizeof kFinal, (h + 8) / 16 * 16, 16, buffer, ctl, &mismatch,
                    false, &ended);
    if (r == kRcOk && !ended) *done = length;
  }
  // A compare error or a cancel ends the test without the end trace.
  if (r != kRcOk) return r;
  printfx(kPfTraceText, "_moving_inversion()  normal end\n");
  return r;
}

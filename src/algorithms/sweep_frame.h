// The frame the algorithms share: start message and waits, the buffer check,
// time-limited sweeps in 32 KiB spans, and the report of a failing unit.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "algorithms/first_error.h"
#include "algorithms/memory.h"
#include "progress/clock.h"
#include "state/memstruct.h"
#include "state/param_block.h"

namespace sweep {

// Time (and cancel) checks fall on offsets that are multiples of this.
inline constexpr uint64_t kCheckInterval = 0x8000;
inline constexpr uint64_t kAllOnes = ~uint64_t{0};

// A cancel, or another test thread's memory error: either stops the sweep.
inline bool cancel_requested() {
  return execute_cancel.load(std::memory_order_relaxed) == 1 || first_error_stops_me();
}

// Clears Error_Details at the start of a step. Threads sharing a sweep leave
// it to the pass start and to the thread that claims the report.
inline void clear_error_details() {
  if (!first_error_shared()) std::memset(&Error_Details, 0, sizeof Error_Details);
}

// Trace "Ixx56" with "<name>" and "Started".
void trace_started(const char* name);
// The pause at the start of a step (WAITSEC, online levels only). True when
// the run time ran out during it.
bool start_wait_expired();
// A null buffer or a size that is not a multiple of the unit: message
// "Wxx57" with `flags`, parameter error 51 reported. Returns 16.
uint32_t reject_buffer(const char* name, uint64_t size, uint32_t flags);

// The time limit of one sweep, chosen afresh for each sweep and measured from
// its start: 50 ms at level 0, a sixteenth of the run time when one is set,
// otherwise none.
class SweepLimit {
 public:
  void begin();
  bool elapsed() const;

 private:
  TimeLimit limit_ = {false, 0};
  uint64_t start_ = 0;
};

struct SweepEnd {
  uint32_t rc;       // kRcOk, or the code that stopped the sweep
  uint64_t reached;  // offset where the sweep stopped
  bool cut;          // stopped by the time limit
};

// Ascending sweep over [0, end): before each span that starts on a check
// point, the time limit and then the cancel flag are checked; span(from, to)
// does the units and returns kRcOk or the code that ends the algorithm.
template <class Span>
SweepEnd sweep_up(const SweepLimit& limit, uint64_t end, Span&& span) {
  uint64_t off = 0;
  while (off < end) {
    if (limit.elapsed()) return {kRcOk, off, true};
    if (cancel_requested()) return {kRcCancel, off, false};
    const uint64_t to = std::min(end, off + kCheckInterval);
    const uint32_t rc = span(off, to);
    if (rc != kRcOk) return {rc, off, false};
    off = to;
  }
  return {kRcOk, off, false};
}

// Descending sweep from end - 8 down to 0. The check at a check point c comes
// just before the unit at c, so the units between two check points are
// [c - 0x8000 + 8, c + 8), done from the top; the units above the highest
// check point come first, unchecked.
template <class Span>
SweepEnd sweep_down(const SweepLimit& limit, uint64_t end, Span&& span) {
  if (end == 0) return {kRcOk, 0, false};
  uint64_t c = (end - 8) / kCheckInterval * kCheckInterval;
  if (c + 8 < end) {
    const uint32_t rc = span(c + 8, end);
    if (rc != kRcOk) return {rc, c + 8, false};
  }
  for (;;) {
    if (limit.elapsed()) return {kRcOk, c, true};
    if (cancel_requested()) return {kRcCancel, c, false};
    const uint64_t lo = c >= kCheckInterval ? c - kCheckInterval + 8 : 0;
    const uint32_t rc = span(lo, c + 8);
    if (rc != kRcOk) return {rc, lo, false};
    if (c == 0) return {kRcOk, 0, false};
    c -= kCheckInterval;
  }
}

// Reports a unit that differs through the compare (Error_Details, error
// list) with Ref No. `ref`, the caller's unit offset `off` and the unit areas
// `actual` and `expected`. Returns the compare's code; a code other than 1
// or 1024 is traced first with `other` (a format that may use `arg`).
uint32_t report_mismatch(const void* actual, const void* expected, uint64_t off, uint32_t ref,
                         const void* buffer, VykTp2MemStruct_t* ctl, uint64_t* mismatch,
                         const char* other, int arg);
// The same for a unit of an offset-addressed sweep: its value and expected
// value are copied into unit areas that outlive the call.
uint32_t report_unit(const Miss& miss, uint32_t ref, const void* buffer, VykTp2MemStruct_t* ctl,
                     uint64_t* mismatch, const char* other, int arg = 0);

// Sets the done counter to `reached` when the caller left it 0.
inline void settle_done(uint64_t* done, uint64_t reached) {
  if (*done == 0) *done = reached;
}

}  // namespace sweep

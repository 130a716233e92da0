#include "driver/shared_sweep.h"

#include <algorithm>
#include <iterator>
#include <mutex>
#include <vector>

#include "algorithms/first_error.h"
#include "common/run_findings.h"
#include "driver/algorithm_call.h"
#include "driver/cover.h"
#include "driver/fault_guard.h"
#include "driver/sweep_threads.h"
#include "progress/clock.h"
#include "state/param_block.h"
#include "state/process_end.h"

namespace {

// One sweep of a cover-mode pass whose chunks test threads share.
struct SharedSweep {
  VykTp2MemStruct_t* ctl = nullptr;
  uint64_t* counters = nullptr;
  const uint8_t* sel = nullptr;
  uint16_t kind = 0;
  uint16_t algo = 0;
  uint32_t chunk_size = 0;
  uint64_t sweep_start = 0;
  uint64_t done_at_start[kAlgoCount] = {};
  // What each chunk's call left in its done slot, merged in chunk order at
  // the end, so the done values are those of one thread taking the chunks in
  // order: the last call that changed its slot sets it.
  std::vector<uint64_t> done_of;
  std::vector<uint8_t> ran;
  std::mutex mu;       // counters, findings, the held chunks, the fields below
  uint32_t r = kRcOk;  // the error that stands
  bool cancelled = false;
  bool finish = false;
};

// The test of chunk c by one of the threads. False stops the sweep.
bool shared_step(void* arg, uint64_t c) {
  auto& s = *static_cast<SharedSweep*>(arg);
  if (slice_or_runtime_over(s.sweep_start)) {
    std::lock_guard<std::mutex> lock(s.mu);
    s.finish = true;
    return false;
  }
  const uint8_t slot = algorithm_done_slot(s.algo);
  void* chunk = cover_chunk(c);
  for (;;) {
    uint64_t done[kAlgoCount];
    std::copy(std::begin(s.done_at_start), std::end(s.done_at_start), done);
    uint32_t r = kRcOk;
    AlgorithmCall call{s.algo, s.kind, chunk, s.chunk_size, s.ctl, done, s.sel, &r, false};
    GuardFault fault;
    const bool returned = fault_guarded_run(&call_algorithm, &call, chunk, s.chunk_size, &fault);
    std::lock_guard<std::mutex> lock(s.mu);
    if (!returned || fault_take_pending(&fault)) {
      count_call(s.counters, s.algo - kAlgoMscan);
      // The poisoned chunk is never touched again, reported or not.
      cover_abandon(c);
      if (first_error_claim()) s.r = report_test_fault(fault, s.algo, chunk, s.chunk_size);
      return false;
    }
    if (call.ran) {
      findings_chunk_tested(s.algo, chunk, s.chunk_size);
      count_call(s.counters, s.algo - kAlgoMscan);
      s.done_of[c] = done[slot];
      s.ran[c] = 1;
      if (s.ctl->param->wTestMode != kTestWhole && r == kRcOk &&
          (s.algo != kAlgoImove || done[kImoveIndex] != 0)) {
        Ex_pass_cnt.fetch_add(1);
      }
    }
    if (r == kRcCancel && execute_cancel.load() != 1) {
      // Stopped by another thread's error; when that report found no
      // difference after all and gave its claim back, the chunk is tested
      // again from its start.
      if (first_error_stops_me()) return false;
      continue;
    }
    if (r == kRcCancel) {
      s.cancelled = true;
      return false;
    }
    if (r != kRcOk) {
      if (s.r == kRcOk) s.r = r;
      return false;
    }
    if (time_limit_over(run_time_limit(), Ex_Prev_MSec)) {
      s.finish = true;
      return false;
    }
    return true;
  }
}

}  // namespace

SharedSweepEnd run_shared_sweep(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done,
                                const uint8_t* sel, uint64_t chunks, uint32_t chunk_size,
                                uint32_t threads, uint32_t* r) {
  SharedSweep s;
  s.ctl = ctl;
  s.counters = counters;
  s.sel = sel;
  s.kind = ctl->data_kind.load();
  s.algo = ctl->algo_no.load();
  s.chunk_size = chunk_size;
  s.sweep_start = memtest_GetTickCount();
  std::copy(done, done + kAlgoCount, s.done_at_start);
  s.done_of.assign(static_cast<size_t>(chunks), 0);
  s.ran.assign(static_cast<size_t>(chunks), 0);
  first_error_share(true);
  sweep_threads_run(threads, chunks, &shared_step, &s);
  first_error_share(false);
  if (s.algo >= kAlgoMscan && s.algo <= kAlgoImove) {
    const uint8_t slot = algorithm_done_slot(s.algo);
    for (size_t c = 0; c < s.ran.size(); ++c) {
      if (s.ran[c] != 0 && s.done_of[c] != s.done_at_start[slot]) done[slot] = s.done_of[c];
    }
  }
  if (s.r != kRcOk) {
    *r = s.r;
    return SharedSweepEnd::kAbort;
  }
  if (s.cancelled) {
    cancel_checkpoint();
    *r = kRcCancel;
    return SharedSweepEnd::kAbort;
  }
  return s.finish ? SharedSweepEnd::kFinish : SharedSweepEnd::kNextSweep;
}

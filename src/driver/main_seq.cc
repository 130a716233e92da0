// One run of the memory test: parse the keywords, make one pattern pass per
// selected data pattern kind, and in each pass sweep the selected algorithms
// over the test size chunk by chunk.
#include "driver/main_seq.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <vector>

#include "algorithms/bmove.h"
#include "algorithms/buffer_access.h"
#include "algorithms/error_disp.h"
#include "algorithms/first_error.h"
#include "algorithms/march.h"
#include "algorithms/masest.h"
#include "algorithms/moving_inversion.h"
#include "algorithms/mscan.h"
#include "common/logfile.h"
#include "common/run_findings.h"
#include "common/test_inf.h"
#include "driver/cancel.h"
#include "driver/chunk.h"
#include "driver/cover.h"
#include "driver/fault_guard.h"
#include "driver/sweep_threads.h"
#include "params/parse_param.h"
#include "pmem/pmem_read.h"
#include "progress/clock.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/pmem_state.h"

namespace {

constexpr uint64_t kOneSecondMs = 1000;
constexpr uint32_t kAlgoCount = 5;
constexpr uint8_t kImoveIndex = 4;

// The limit a pattern pass or a chunk step is held to, counted from `start`:
// one-second slices at level 0, the run time when one is in force.
bool slice_or_runtime_over(uint64_t start) {
  return time_limit_over(slice_or_run_time(Ex_dwTestLevel.load(), kOneSecondMs), start);
}

struct SweepPlan {
  uint16_t first;  // algorithm number of the first sweep
  uint32_t count;  // number of sweeps
};

// One-by-one mode runs every selected algorithm from the first selected one
// through IMOVE: five minus the index of the first selected entry sweeps, so
// "-tp MSCAN,IMOVE" runs both. Numbers in between that are not selected run
// nothing but still take and release every chunk and apply the time checks,
// as every sweep does (an allocation that is never touched costs no memory
// traffic). WHOLE mode runs the five numbers too, MARCH excepted.
SweepPlan sweep_plan(const ParamStruct_t& param, const uint8_t* sel) {
  SweepPlan plan{kAlgoMscan, 0};
  if (param.wTestMode == kTestWhole) {
    plan.count = kAlgoCount;
  } else if (param.wTestMode == kTestOneByOne) {
    for (uint8_t i = 0; i < kAlgoCount; ++i) {
      if (sel[i] != kAlgoSelected) continue;
      plan.first = static_cast<uint16_t>(kAlgoMscan + i);
      plan.count = kAlgoCount - i;
      printfx(kPfTraceText, "_NonPSE36MemoryTest()  One by one: algorithms %u to %u (sweeps=%u)\n",
              static_cast<unsigned>(plan.first), static_cast<unsigned>(kAlgoImove),
              static_cast<unsigned>(plan.count));
      break;
    }
  }
  if (Ex_pmem_FIND.load() == 1) plan = {kAlgoPmem, 1};
  return plan;
}

// One algorithm of a pattern pass: its number, its name, the routine that
// tests one chunk (whole: the run is in WHOLE mode), the algo_done slot it
// counts its work in, the trace of that count, and the Ref No. a machine
// check during it is listed under: that of its first verifying read, so the
// error list's title names the algorithm whose access hit the poisoned page.
struct Algorithm {
  uint16_t number;
  const char* name;
  uint32_t (*run)(uint16_t kind, void* chunk, uint32_t size, bool whole, VykTp2MemStruct_t* ctl,
                  uint64_t* done);
  uint8_t done_slot;
  const char* done_trace;
  bool done_trace_32;  // the count is traced as a 32-bit number
  bool in_whole;       // WHOLE mode calls it
  uint32_t machine_check_ref_no;
};

uint32_t run_mscan(uint16_t kind, void* chunk, uint32_t size, bool, VykTp2MemStruct_t* ctl,
                   uint64_t* done) {
  return VykTp2MSCAN(kind, chunk, size, ctl, done);
}

uint32_t run_march(uint16_t kind, void* chunk, uint32_t size, bool, VykTp2MemStruct_t* ctl,
                   uint64_t* done) {
  return VykTp2MARCH(kind, chunk, size, ctl, done);
}

uint32_t run_masest(uint16_t kind, void* chunk, uint32_t size, bool, VykTp2MemStruct_t* ctl,
                    uint64_t* done) {
  return VykTp2MASEST(kind, chunk, size, ctl, done);
}

uint32_t run_bmove(uint16_t kind, void* chunk, uint32_t size, bool, VykTp2MemStruct_t* ctl,
                   uint64_t* done) {
  return VykTp2BMOVE(kind, chunk, size, ctl, 0, done);
}

// IMOVE tests the whole chunk in WHOLE mode, else its first half.
uint32_t run_imove(uint16_t, void* chunk, uint32_t size, bool whole, VykTp2MemStruct_t* ctl,
                   uint64_t* done) {
  printfx(kPfMsgNo | kPfDebugLog, "Ixx57", "_NonPSE36MemoryTest",
          "Committed User Memory adr=", chunk, "size=0x", static_cast<unsigned>(size));
  const uint64_t length = whole ? size : size / 2;
  return Vyk_moving_inversion(chunk, length, ctl, done);
}

// In sweep order, one entry per number from kAlgoMscan. WHOLE selects all
// five (the parser marks them in algo_array and the pre-scan counts five
// algorithms for the progress size), but this table alone decides what a
// WHOLE pass calls: not MARCH, whose sweep there only takes and releases its
// chunks under the time checks.
constexpr Algorithm kAlgorithms[kAlgoCount] = {
    {kAlgoMscan, "MSCAN", run_mscan, 0, "_NonPSE36MemoryTest()  MSCAN done..=0x%llx\n", false, true,
     1},
    {kAlgoMarch, "MARCH", run_march, 1, "_NonPSE36MemoryTest()  MARCH done..=0x%llx\n", false,
     false, 2},
    {kAlgoMasest, "MASEST", run_masest, 2, "_NonPSE36MemoryTest()  MASEST done..=0x%llx\n", false,
     true, 4},
    {kAlgoBmove, "BMOVE", run_bmove, 3, "_NonPSE36MemoryTest()  BMOVE done..=0x%llx\n", false, true,
     13},
    {kAlgoImove, "IMOVE", run_imove, kImoveIndex,
     "_NonPSE36MemoryTest()  Moving Inversion done..=0x%x\n", true, true, 14},
};
static_assert(
    [] {
      for (uint32_t i = 0; i < kAlgoCount; ++i) {
        if (uint32_t{kAlgorithms[i].number} != kAlgoMscan + i) return false;
      }
      return true;
    }(),
    "kAlgorithms is indexed by algorithm number");

// Runs the algorithm of sweep `algo` over one chunk when it is selected.
// Returns true when an algorithm ran; *r then holds its result.
bool run_algorithm(uint16_t algo, uint16_t kind, void* chunk, uint32_t size, VykTp2MemStruct_t* ctl,
                   uint64_t* done, const uint8_t* sel, uint32_t* r) {
  if (algo < kAlgoMscan || algo > kAlgoImove) return false;
  if (sel[algo - kAlgoMscan] != kAlgoSelected) return false;
  const Algorithm& a = kAlgorithms[algo - kAlgoMscan];
  const bool whole = ctl->param->wTestMode == kTestWhole;
  if (whole && !a.in_whole) return false;
  *r = a.run(kind, chunk, size, whole, ctl, &done[a.done_slot]);
  if (a.done_trace_32) {
    printfx(kPfTraceText, a.done_trace, static_cast<unsigned>(done[a.done_slot]));
  } else {
    printfx(kPfTraceText, a.done_trace, static_cast<unsigned long long>(done[a.done_slot]));
  }
  return true;
}

// run_algorithm's arguments and results, for a call under the fault guard.
struct AlgorithmCall {
  uint16_t algo;
  uint16_t kind;
  void* chunk;
  uint32_t size;
  VykTp2MemStruct_t* ctl;
  uint64_t* done;
  const uint8_t* sel;
  uint32_t* r;
  bool ran;
};

void call_algorithm(void* arg) {
  auto* c = static_cast<AlgorithmCall*>(arg);
  c->ran = run_algorithm(c->algo, c->kind, c->chunk, c->size, c->ctl, c->done, c->sel, c->r);
}

// A fault that stopped (or, found by the kernel on its own, came during) the
// algorithm over the chunk. A machine check in the chunk is a memory error of
// that algorithm, listed as its compare errors are; anything else ends the
// run with an abort list naming the signal and the address.
uint32_t report_test_fault(const GuardFault& fault, uint16_t algo, const void* chunk,
                           uint32_t size) {
  const Algorithm& a = kAlgorithms[algo - kAlgoMscan];
  printfx(kPfTraceText, "_NonPSE36MemoryTest()  %s %s adr=0x%llx lsb=%d during %s\n",
          fault_signal_text(fault.sig), fault_code_text(fault.sig, fault.code),
          static_cast<unsigned long long>(fault.addr), fault.lsb, a.name);
  const auto begin = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(chunk));
  if (fault_is_machine_check(fault) && fault.addr >= begin && fault.addr < begin + size) {
    return report_machine_check(chunk, fault.addr - begin, a.machine_check_ref_no, a.name);
  }
  Error_Details = Error_Details_t{};
  Error_Details.error_class = kClassSyscall;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.device_text = TEST_INF.device_name;
  fault_describe(fault, Error_Details.function_name, sizeof Error_Details.function_name);
  VykTp2MemErrorDisp(&Error_Details);
  return kRcSyscall;
}

// Counts one call of the algorithm with counter byte `byte` (stops at 255)
// and publishes the half of the counters that holds it.
void count_call(uint64_t* counters, unsigned byte) {
  const unsigned shift = 8 * byte;
  if (((*counters >> shift) & 0xFF) != 0xFF) *counters += uint64_t{1} << shift;
  constexpr uint64_t kLow = 0xFFFFFFFFull;
  const uint64_t half_mask = byte < 4 ? kLow : ~kLow;
  const uint64_t ex = Ex_dwDebug_TKind.load();
  Ex_dwDebug_TKind.store((ex & ~half_mask) | (*counters & half_mask));
}

// Records the chunk for the cancel routine exactly while it is held.
void hold_chunk(void* chunk, uint32_t size) {
  Ex_Committed_dwSize.store(size);
  Ex_lpCommittedBuffer.store(chunk);
}

// Gives the held chunk back. The record is taken first, so the cancel routine
// never sees a chunk that is already back on the heap.
void release_chunk() {
  cancel_checkpoint();
  void* chunk = Ex_lpCommittedBuffer.exchange(nullptr);
  Ex_Committed_dwSize.store(0);
  VykTp2FreeMemoryChunk(chunk);
}

// Leaves the held chunk as it is, after a fault in it: a page the kernel has
// taken out of service must never be touched again, and giving the chunk back
// to the heap would touch the heap's own words in it. The process end
// returns it.
void abandon_chunk() {
  cancel_checkpoint();
  Ex_lpCommittedBuffer.store(nullptr);
  Ex_Committed_dwSize.store(0);
}

void report_alloc_failure(uint32_t size) {
  Error_Details = Error_Details_t{};
  Error_Details.error_class = kClassSyscall;
  Error_Details.name_text = TEST_INF.module_name;
  Error_Details.device_text = TEST_INF.device_name;
  std::strncpy(Error_Details.function_name, "VirtualAlloc",
               sizeof(Error_Details.function_name) - 1);
  printfx(kPfTraceText | kPfLogRecord1,
          "_NonPSE36MemoryTest()  WARNNING ! CommitMemory 0x%xByte Couldn't Allocate\n", size);
  VykTp2MemErrorDisp(&Error_Details);
}

// kNextSweep: only from a shared sweep that tested all its chunks.
enum class PassEnd { kFinish, kAbort, kNextSweep };

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
  const Algorithm& a = kAlgorithms[s.algo - kAlgoMscan];
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
      s.done_of[c] = done[a.done_slot];
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

// A sweep of a cover-mode pass shared among `threads` test threads: the same
// chunks and algorithm as one thread's sweep, the first error the one
// reported, a cancel or a time limit the end of the sweep for every thread.
PassEnd run_shared_sweep(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done,
                         const uint8_t* sel, uint64_t chunks, uint32_t chunk_size, uint32_t threads,
                         uint32_t* r) {
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
    const uint8_t slot = kAlgorithms[s.algo - kAlgoMscan].done_slot;
    for (size_t c = 0; c < s.ran.size(); ++c) {
      if (s.ran[c] != 0 && s.done_of[c] != s.done_at_start[slot]) done[slot] = s.done_of[c];
    }
  }
  if (s.r != kRcOk) {
    *r = s.r;
    return PassEnd::kAbort;
  }
  if (s.cancelled) {
    cancel_checkpoint();
    *r = kRcCancel;
    return PassEnd::kAbort;
  }
  return s.finish ? PassEnd::kFinish : PassEnd::kNextSweep;
}

// The sweeps of one pattern pass. kAbort: return *r at once, without the
// end-of-pass steps.
PassEnd run_sweeps(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done, uint8_t* sel,
                   uint32_t* r) {
  const uint16_t kind = ctl->data_kind.load();
  const ParamStruct_t& param = *ctl->param;
  // A remainder smaller than a chunk is not tested.
  const uint64_t chunk64 = std::min(param.dwSize, Commit_Size);
  const uint32_t chunk_size = static_cast<uint32_t>(chunk64);
  const uint64_t chunks = chunk64 == 0 ? 0 : param.dwSize / chunk64;

  const SweepPlan plan = sweep_plan(param, sel);
  // Cover mode: every chunk of the pass is taken before the first sweep and
  // held to the end of the pass (the caller gives them back).
  const bool cover = cover_mode() && plan.first != kAlgoPmem && chunks > 0;
  if (cover && cover_take(chunks, chunk_size) != kRcOk) {
    report_alloc_failure(chunk_size);
    *r = kRcSyscall;
    return PassEnd::kAbort;
  }
  ctl->algo_no.store(plan.first);
  const uint32_t threads = cover ? cover_threads() : 1;
  for (uint32_t s = 0; s < plan.count; ++s) {
    if (threads > 1) {
      const PassEnd end =
          run_shared_sweep(ctl, counters, done, sel, chunks, chunk_size, threads, r);
      if (end != PassEnd::kNextSweep) return end;
      ctl->algo_no.store(static_cast<uint16_t>(ctl->algo_no.load() + 1));
      continue;
    }
    const uint64_t sweep_start = memtest_GetTickCount();
    for (uint64_t c = 0; c < chunks; ++c) {
      if (slice_or_runtime_over(sweep_start)) return PassEnd::kFinish;

      const uint16_t algo = ctl->algo_no.load();
      if (algo == kAlgoPmem) {
        findings_pmem_read();
        *r = VykTp2PMEMRead(chunk64, counters, ctl, &done[kImoveIndex]);
        printfx(kPfTraceText, "_NonPSE36MemoryTest()  PMEM read done..=0x%llx\n",
                static_cast<unsigned long long>(Ex_dwlDebug_MSize.load()));
        return PassEnd::kFinish;
      }

      void* chunk = cover ? cover_chunk(c) : nullptr;
      if (!cover) {
        uint32_t status = 0;
        chunk = VykTp2GetMemoryChunk(chunk_size, &status);
        if (status != kRcOk) {
          report_alloc_failure(chunk_size);
          *r = status;
          return PassEnd::kAbort;
        }
        hold_chunk(chunk, chunk_size);
      }

      AlgorithmCall call{algo, kind, chunk, chunk_size, ctl, done, sel, r, false};
      GuardFault fault;
      const bool returned = fault_guarded_run(&call_algorithm, &call, chunk, chunk_size, &fault);
      if (!returned || fault_take_pending(&fault)) {
        count_call(counters, algo - kAlgoMscan);
        *r = report_test_fault(fault, algo, chunk, chunk_size);
        if (cover) {
          cancel_checkpoint();
          cover_abandon(c);
        } else {
          abandon_chunk();
        }
        return PassEnd::kAbort;
      }
      if (call.ran) {
        findings_chunk_tested(algo, chunk, chunk_size);
        const unsigned byte = algo - kAlgoMscan;
        count_call(counters, byte);
        if (param.wTestMode != kTestWhole && *r == kRcOk &&
            (algo != kAlgoImove || done[kImoveIndex] != 0)) {
          Ex_pass_cnt.fetch_add(1);
        }
      }

      // A failing algorithm may have been stopped by a cancel; the checkpoint
      // in release_chunk keeps this thread off the chunk the cancel gives back.
      if (cover) {
        cancel_checkpoint();
      } else {
        release_chunk();
      }
      if (*r != kRcOk) return PassEnd::kAbort;

      if (time_limit_over(run_time_limit(), Ex_Prev_MSec)) {
        return PassEnd::kFinish;
      }
    }
    ctl->algo_no.store(static_cast<uint16_t>(ctl->algo_no.load() + 1));
  }
  return PassEnd::kFinish;
}

}  // namespace

uint32_t VykTp2NonPSE36MemoryTest(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done,
                                  uint8_t* sel, uint32_t pattern_pass) {
  Error_Details = Error_Details_t{};
  uint32_t r = kRcOk;
  const PassEnd end = run_sweeps(ctl, counters, done, sel, &r);
  // Whatever ended the pass, the chunks it held go back now (a cancel stops
  // this thread first and gives them back itself).
  cancel_checkpoint();
  cover_release();
  if (end == PassEnd::kAbort) return r;

  const uint32_t level = Ex_dwTestLevel.load();
  if (level == 2 || (level == 3 && pattern_pass == 2)) {
    // One pass for a pattern pass in which MSCAN, MASEST, BMOVE and IMOVE
    // have all done work.
    if (done[0] != 0 && done[2] != 0 && done[3] != 0 && done[4] != 0) Ex_pass_cnt.fetch_add(1);
  }
  TEST_INF.pass_count.store(Ex_pass_cnt.load());
  ctl->algo_no.store(0);
  printfx(kPfTraceMsg, "Ixx56", "_NonPSE36MemoryTest", "Releasing user Memory");
  printfx(kPfTraceMsg, "Ixx56", "_NonPSE36MemoryTest", "Ended");
  return r;
}

uint32_t VykTp2Mem(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done, uint8_t* sel) {
  uint32_t r = kRcOk;
  printfx(kPfTraceMsg, "Ixx56", "VykTp2Mem", "Started");
  const ParamStruct_t& param = *ctl->param;
  const bool user_memory = param.wUseMode == kUseAll || param.wUseMode == kUseUser;
  if (ctl->use_nonpse != 0 && user_memory) {
    ctl->mem_kind = kUseUser;
    ctl->pse36_active = 0;

    if (param.wDataMode == kDataAll || param.wDataMode == kDataCrossTalk) {
      ctl->data_kind.store(kDataCrossTalk);
      printfx(kPfTraceMsg, "Ixx56", "VykTp2Mem", "Executing NonPSE for CROSS TALK Data Pattern");
      const uint64_t start = memtest_GetTickCount();
      r = VykTp2NonPSE36MemoryTest(ctl, counters, done, sel, 1);
      if (r != kRcOk) return r;
      if (slice_or_runtime_over(start)) return r;
    }

    ctl->algo_no.store(0);
    if (param.wDataMode == kDataAll || param.wDataMode == kDataRepeat) {
      ctl->data_kind.store(kDataRepeat);
      printfx(kPfTraceMsg, "Ixx56", "VykTp2Mem", "Executing NonPSE for REPEATE Data Pattern");
      const uint64_t start = memtest_GetTickCount();
      const uint32_t pattern_pass = param.wDataMode == kDataAll ? 2 : 1;
      r = VykTp2NonPSE36MemoryTest(ctl, counters, done, sel, pattern_pass);
      if (r != kRcOk) return r;
      if (slice_or_runtime_over(start)) return r;
    }
  }
  ctl->mem_kind = 0;
  ctl->algo_no.store(0);
  ctl->data_kind.store(0);
  printfx(kPfTraceMsg, "Ixx56", "VykTp2Mem", "Ended");
  return r;
}

uint32_t VYTMEM_Main(uint32_t level, uint32_t single_run, int argc, char** argv) {
  VykTp2MemStruct_t* ctl = &VykTp2MemStruct;
  if (ctl->param == nullptr) ctl->param = &ParamStruct;

  uint8_t algo_array[kAlgoCount] = {};
  uint64_t algo_done[kAlgoCount] = {};
  uint32_t error_number = 0;
  // The call counters carry on from the previous run of this process (0 on
  // the first run), so the trace shows totals for the whole process, as the
  // cancel routine's trace of Ex_dwDebug_TKind does.
  uint64_t dwDebug_TKind = Ex_dwDebug_TKind.load();
  Error_Details = Error_Details_t{};

  // Fewer than four arguments after the program name show as empty texts;
  // nothing is read past the end of the argument vector.
  const char* shown[4] = {"", "", "", ""};
  for (int i = 1, k = 0; argv != nullptr && i < argc && k < 4 && argv[i] != nullptr; ++i, ++k) {
    shown[k] = argv[i];
  }
  printfx(kPfTraceText, "memtest argv= %s %s %s %s\n", shown[0], shown[1], shown[2], shown[3]);

  ctl->dwTestLevel = level;
  ctl->single_run = single_run;
  ctl->param->wTestMode = 0;
  ctl->param->wUseMode = 0;
  ctl->param->wDataMode = 0;
  ctl->mem_kind = 0;
  ctl->algo_no.store(0);
  ctl->data_kind.store(0);
  std::memset(Fake_Err, 0, sizeof(Fake_Err));

  uint32_t r = VykTp2ParseParam2(argv, ctl, algo_array, &error_number);
  if (r == kRcCancel) {
    // A cancel is under way: stop here and leave the end to the cancel routine.
    cancel_checkpoint();
    return r;
  }
  if (r != kRcOk) {
    Error_Details = Error_Details_t{};
    Error_Details.error_class = kClassParam;
    Error_Details.error_code = error_number;
    Error_Details.name_text = TEST_INF.module_name;
    Error_Details.device_text = TEST_INF.device_name;
    VykTp2MemErrorDisp(&Error_Details);
    return r;
  }

  if (execute_waitsec_used.load() == 1 && level != 0) {
    printfx(kPfTraceText, "VYTMEM_Main()  WaitSec Setting Existed(SleepTime=Per %d[Sec.] )\n",
            static_cast<int>(execute_waitsec.load()));
  }

  r = VykTp2Mem(ctl, &dwDebug_TKind, algo_done, algo_array);
  printfx(kPfTraceText, "_Main()  dwDebug_TKind=0x%08x%08x\n",
          static_cast<unsigned>(dwDebug_TKind >> 32),
          static_cast<unsigned>(dwDebug_TKind & 0xFFFFFFFFu));
  return r;
}

// One run of the memory test: parse the keywords, make one pattern pass per
// selected data pattern kind, and in each pass sweep the selected algorithms
// over the test size chunk by chunk.
#include "driver/main_seq.h"

#include <algorithm>
#include <cstring>

#include "algorithms/error_disp.h"
#include "common/logfile.h"
#include "common/run_findings.h"
#include "common/test_inf.h"
#include "driver/algorithm_call.h"
#include "driver/cancel.h"
#include "driver/chunk.h"
#include "driver/cover.h"
#include "driver/fault_guard.h"
#include "driver/shared_sweep.h"
#include "params/parse_param.h"
#include "pmem/pmem_read.h"
#include "progress/clock.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/pmem_state.h"

namespace {

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

enum class PassEnd { kFinish, kAbort };

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
      const SharedSweepEnd end =
          run_shared_sweep(ctl, counters, done, sel, chunks, chunk_size, threads, r);
      if (end == SharedSweepEnd::kAbort) return PassEnd::kAbort;
      if (end == SharedSweepEnd::kFinish) return PassEnd::kFinish;
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

#include "driver/algorithm_call.h"

#include <cstring>

#include "algorithms/bmove.h"
#include "algorithms/buffer_access.h"
#include "algorithms/error_disp.h"
#include "algorithms/march.h"
#include "algorithms/masest.h"
#include "algorithms/moving_inversion.h"
#include "algorithms/mscan.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "progress/clock.h"
#include "state/param_block.h"

namespace {

constexpr uint64_t kOneSecondMs = 1000;

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

}  // namespace

bool slice_or_runtime_over(uint64_t start) {
  return time_limit_over(slice_or_run_time(Ex_dwTestLevel.load(), kOneSecondMs), start);
}

uint8_t algorithm_done_slot(uint16_t algo) {
  return kAlgorithms[algo - kAlgoMscan].done_slot;
}

void call_algorithm(void* arg) {
  auto* c = static_cast<AlgorithmCall*>(arg);
  c->ran = run_algorithm(c->algo, c->kind, c->chunk, c->size, c->ctl, c->done, c->sel, c->r);
}

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

void count_call(uint64_t* counters, unsigned byte) {
  const unsigned shift = 8 * byte;
  if (((*counters >> shift) & 0xFF) != 0xFF) *counters += uint64_t{1} << shift;
  constexpr uint64_t kLow = 0xFFFFFFFFull;
  const uint64_t half_mask = byte < 4 ? kLow : ~kLow;
  const uint64_t ex = Ex_dwDebug_TKind.load();
  Ex_dwDebug_TKind.store((ex & ~half_mask) | (*counters & half_mask));
}

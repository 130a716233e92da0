// The algorithms of a pattern pass, one call over one chunk: the table that
// names them, the call under the fault guard, the count of calls and the
// report of a fault that stopped one.
#pragma once

#include <cstdint>

#include "driver/fault_guard.h"
#include "state/memstruct.h"

inline constexpr uint32_t kAlgoCount = 5;
inline constexpr uint8_t kImoveIndex = 4;

// The limit a pattern pass or a chunk step is held to, counted from `start`:
// one-second slices at level 0, the run time when one is in force.
bool slice_or_runtime_over(uint64_t start);

// The arguments and results of one algorithm call under the fault guard.
struct AlgorithmCall {
  uint16_t algo;
  uint16_t kind;
  void* chunk;
  uint32_t size;
  VykTp2MemStruct_t* ctl;
  uint64_t* done;
  const uint8_t* sel;
  uint32_t* r;
  bool ran;  // the algorithm of sweep `algo` is selected and ran; *r holds its result
};
// Runs the call's algorithm over its chunk when it is selected (the routine
// fault_guarded_run calls).
void call_algorithm(void* arg);
// The algo_done slot algorithm `algo` counts its work in.
uint8_t algorithm_done_slot(uint16_t algo);
// A fault that stopped (or, found by the kernel on its own, came during) the
// algorithm over the chunk. A machine check in the chunk is a memory error of
// that algorithm, listed as its compare errors are; anything else ends the
// run with an abort list naming the signal and the address.
uint32_t report_test_fault(const GuardFault& fault, uint16_t algo, const void* chunk,
                           uint32_t size);
// Counts one call of the algorithm with counter byte `byte` (stops at 255)
// and publishes the half of the counters that holds it.
void count_call(uint64_t* counters, unsigned byte);

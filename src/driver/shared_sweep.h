// A sweep of a cover-mode pass whose held chunks several test threads share.
#pragma once

#include <cstdint>

#include "state/memstruct.h"

enum class SharedSweepEnd {
  kNextSweep,  // every chunk tested: the pass goes on with the next sweep
  kFinish,     // a time limit: the pass ends as a finished one
  kAbort,      // an error or a cancel: the pass ends at once with *r
};

// The sweep of algorithm ctl->algo_no over the `chunks` held chunks of
// `chunk_size` bytes, shared among `threads` test threads: the same chunks
// and algorithm as one thread's sweep, each chunk in the usual order within
// it; the first error the one reported; a cancel or a time limit the end of
// the sweep for every thread. Calls, passes and done values come out as one
// thread taking the chunks in order would leave them.
SharedSweepEnd run_shared_sweep(VykTp2MemStruct_t* ctl, uint64_t* counters, uint64_t* done,
                                const uint8_t* sel, uint64_t chunks, uint32_t chunk_size,
                                uint32_t threads, uint32_t* r);

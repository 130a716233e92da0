// Test threads sharing the chunks of one sweep.
#pragma once

#include <cstdint>

// Runs step(ctx, c) for every c in [0, count) on `threads` threads, the
// calling thread among them: each index is taken once, in ascending order of
// taking. A step that returns false stops the sweep: no index is taken after
// it, and the steps already under way run to their end. Returns when every
// thread has finished; the number of threads that ran (fewer than asked when
// a thread could not be started).
uint32_t sweep_threads_run(uint32_t threads, uint64_t count, bool (*step)(void* ctx, uint64_t c),
                           void* ctx);

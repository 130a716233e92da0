// Cancellation by the interrupt signal.
//
// SIGINT is blocked in every thread; one dedicated thread waits for it and
// runs the cancel routine, so the routine's work (formatting, files, heap)
// never runs inside an asynchronous signal handler.
#pragma once

#include <pthread.h>

#include "common/test_inf.h"

// Taken by the cancel routine and never released.
extern pthread_mutex_t mutex;

// Blocks SIGINT in the calling thread (and so in every thread created after).
void sigint_block();
void sigint_setup(CancelHandler routine);
void sigint_function();
// Held by the run controller while it clears TEST_INF and stores the cancel
// routine again, so a signal never finds the handler missing.
void sigint_handler_lock();
void sigint_handler_unlock();
[[noreturn]] void Memtest_Cancel();

// The end of the process belongs to whoever claims it first: the cancel
// routine, or a normal end (main's final report, the progress thread's
// clock-back end). Returns false when a cancel already owns it.
bool memtest_claim_end();
// Called by the test thread at its stopping points: when a cancel is under
// way, the thread stops here for good (the cancel routine ends the process),
// so it touches no memory the cancel routine releases.
void cancel_checkpoint();
// Stops the calling thread for good; the cancel routine ends the process.
[[noreturn]] void park_forever();

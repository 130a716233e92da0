// Cancellation by the interrupt signal, and by SIGTERM and SIGHUP.
//
// The three are blocked in every thread; one dedicated thread waits for them
// and runs the cancel routine, so the routine's work (formatting, files,
// heap) never runs inside an asynchronous signal handler. Should that thread
// not start, a handler that only claims the cancel takes the signals, and the
// test thread runs the cancel routine at its next stopping point.
#pragma once

#include <pthread.h>

#include "common/test_inf.h"
#include "state/process_end.h"

// Taken by the cancel routine and never released.
extern pthread_mutex_t mutex;

// Blocks the cancel signals in the calling thread (and so in every thread
// created after).
void sigint_block();
// Starts a helper thread (signals, progress) with a small stack of its own.
// Returns the pthread_create result.
int start_helper_thread(pthread_t* tid, void* (*fn)(void*), void* arg, bool detached);
void sigint_setup(CancelHandler routine);
void sigint_function();
// Held by the run controller while it clears TEST_INF and stores the cancel
// routine again, so a signal never finds the handler missing.
void sigint_handler_lock();
void sigint_handler_unlock();
[[noreturn]] void Memtest_Cancel();

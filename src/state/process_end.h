// The cancel of the test, and who ends the process.
//
// A cancel and a normal end (main's final report, an error or abort list, the
// progress thread's clock-back end) may race; the first to claim the end owns
// it, so the controlling process sees exactly one final status. The cancel
// request is raised by the cancel's claim and by nothing else: a cancel is
// requested exactly when it owns the end. So a run whose normal end has been
// claimed never sees a cancel, and a test thread that sees one never sends a
// final status of its own: it stops at its next checkpoint.
#pragma once

#include <atomic>
#include <cstdint>

// The cancel request: 0, or 1 from the cancel's claim of the end on. The
// parser, the pre-scan, the pattern generator, the sweeps and the progress
// thread read it under this name; it is the word of the cancel object in
// process_end.cc.
extern std::atomic<uint32_t>& execute_cancel;

// Claims the end for a normal end. False when a cancel already owns it.
bool memtest_claim_end();
// Claims the end for a cancel and raises the cancel request. False when a
// normal end owns it (nothing is raised then). Lock-free and
// async-signal-safe: the fallback signal handler calls it.
bool memtest_claim_cancel();

// Called by the test thread at its stopping points: when a cancel is
// requested, the thread stops here for good (the cancel routine ends the
// process), so it touches no memory the cancel routine releases.
void cancel_checkpoint();
// Stops the calling thread for good; the cancel routine ends the process.
// With a routine set by set_cancel_on_test_thread and a cancel requested, the
// calling thread (always the test thread) runs that routine instead.
[[noreturn]] void park_forever();
// When no thread waits for the cancel signals, the test thread itself must
// run the cancel routine: at its next stopping point. nullptr: a thread waits.
using CancelRoutine = void (*)();
void set_cancel_on_test_thread(CancelRoutine routine);
// Sleeps until the test thread has stopped at a checkpoint, at most
// `timeout_ms`. True once it has stopped.
bool wait_test_thread_stopped(int timeout_ms);
// Back to an end that nobody owns, no cancel and no thread stopped: for runs
// of the tests one after another in one process.
void process_end_clear();

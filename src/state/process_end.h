// Who ends the process. A cancel and a normal end (main's final report, the
// progress thread's clock-back end) may race; the first to claim the end owns
// it, so the controlling process sees exactly one final status.
#pragma once

// Claims the end for a normal end. False when a cancel already owns it.
bool memtest_claim_end();
// Claims the end for a cancel and marks the cancel as started, so the test
// thread stops at its next checkpoint. False when a normal end owns it.
bool memtest_claim_cancel();

// Called by the test thread at its stopping points: when a cancel is under
// way, the thread stops here for good (the cancel routine ends the process),
// so it touches no memory the cancel routine releases.
void cancel_checkpoint();
// Stops the calling thread for good; the cancel routine ends the process.
// With a routine set by set_cancel_on_test_thread and a cancel under way, the
// calling thread (always the test thread) runs that routine instead.
[[noreturn]] void park_forever();
// When no thread waits for the cancel signals, the test thread itself must
// run the cancel routine: at its next stopping point. nullptr: a thread waits.
using CancelRoutine = void (*)();
void set_cancel_on_test_thread(CancelRoutine routine);
// True once the test thread has stopped at a checkpoint.
bool test_thread_parked();
// Back to an end that nobody owns, no cancel and no thread stopped: for runs
// of the tests one after another in one process.
void process_end_clear();

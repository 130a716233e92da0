// The progress thread: progress arithmetic and progress records.
#pragma once

#include <cstdint>
#include <ctime>

struct progress_t {
  uint32_t elapsed_time;
  uint32_t start_time;
  uint32_t total_time;
  uint32_t percent;
};

extern progress_t progress;
extern uint64_t Ex_thread_counter;
extern uint32_t substantial_f;
extern int32_t old_times;
extern int32_t Ex_infini_start_time;
extern uint32_t Ex_infini_cnt;

void* thread_memtest(void* arg);
void Memtest_Progress(progress_t* rec);
void Memtest_Progress_Infinity(progress_t* rec);
// Once Ex_Thread_End_f is set: waits until no progress step is still sending.
void progress_quiesce();
// The progress record and counters above, and the loop stop, back to their
// program-start values.
void progress_state_clear();

// "Now" in seconds as the progress code sees it.
time_t progress_now();

// The one-second pause of the progress loops. Sleeps in short slices and
// returns early once Ex_Thread_End_f is set, so joining the thread at the end
// of a run does not wait out a whole second.
void progress_pause_1s();

// Set once the progress code has given up the process end to a cancel (or a
// replaced end of the process returned); the thread loops stop on it.
// Cleared when a loop starts.
bool progress_loop_stopped();

// Used between the progress files: the claim of the process end, the end
// itself (through the platform) and the stop of the loops.
bool progress_claim_end();
void progress_end_process(int status);
void progress_stop_loop();

// The progress thread: its state, its two loops, and its clock and process end.
#include "progress/progress.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "common/platform.h"
#include "progress/progress_step.h"
#include "state/memstruct.h"
#include "state/process_end.h"
#include "state/wait_word.h"

// Written by the run controller before the thread starts, then only by the
// progress thread; main reads elapsed_time after the join.
progress_t progress;
uint64_t Ex_thread_counter;
uint32_t substantial_f;
int32_t old_times;
int32_t Ex_infini_start_time;
uint32_t Ex_infini_cnt;

namespace {

std::atomic<bool> g_loop_stop{false};

constexpr auto kPauseLength = std::chrono::seconds(1);
constexpr auto kPauseSlice = std::chrono::milliseconds(20);

}  // namespace

void progress_state_clear() {
  progress = progress_t{};
  Ex_thread_counter = 0;
  substantial_f = 0;
  old_times = 0;
  Ex_infini_start_time = 0;
  Ex_infini_cnt = 0;
  g_loop_stop.store(false);
}

time_t progress_now() {
  return platform().time_now();
}

bool progress_claim_end() {
  return platform().progress_claim_end();
}

void progress_end_process(int status) {
  platform().end_process(status);
  // Only a replaced end of the process comes back: behave as if it ended.
  g_loop_stop.store(true);
}

void progress_stop_loop() {
  g_loop_stop.store(true);
}

bool progress_loop_stopped() {
  return g_loop_stop.load();
}

void progress_pause_1s() {
  // The deadline is taken on the monotonic clock: the wall clock may be set
  // back, and the cadence of one step per second must not follow it.
  const auto deadline = std::chrono::steady_clock::now() + kPauseLength;
  while (Ex_Thread_End_f.load() == 0) {
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) return;
    std::this_thread::sleep_for(left < kPauseSlice ? left : kPauseSlice);
  }
}

namespace {

// Raised while a progress step may send a record. With the end flag it forms
// a handshake (both sequentially consistent): either the step sees the end
// flag and sends nothing, or progress_quiesce() sees the step and waits for
// it, so no running record can follow the cancel routine's final records.
std::atomic<uint32_t> g_step_in_flight{0};

void guarded_step(void (*step)(progress_t*, char*), progress_t* rec, char* text) {
  g_step_in_flight.store(1);
  if (Ex_Thread_End_f.load() == 0) step(rec, text);
  g_step_in_flight.store(0);
  word_wake_all(g_step_in_flight);
}

// A step that cannot finish (its output blocked) is not waited for longer.
constexpr int kQuiesceWaitMs = 2000;

}  // namespace

void progress_quiesce() {
  word_wait_while(g_step_in_flight, 1, kQuiesceWaitMs);
}

void Memtest_Progress(progress_t* rec) {
  char text[48] = {};
  g_loop_stop.store(false);
  while (Ex_Thread_End_f.load() == 0 && !g_loop_stop.load()) {
    guarded_step(&innovate_progress_time, rec, text);
    progress_pause_1s();
  }
}

void Memtest_Progress_Infinity(progress_t* rec) {
  char text[48] = {};
  g_loop_stop.store(false);
  while (Ex_Thread_End_f.load() == 0 && !g_loop_stop.load()) {
    guarded_step(&innovate_progress_infinity, rec, text);
    progress_pause_1s();
  }
}

void* thread_memtest(void* arg) {
  // The loop ends by returning, not by pthread_exit: the exit value is the
  // same and the thread's stack unwinds normally.
  switch (reinterpret_cast<intptr_t>(arg)) {
    case 1:
      Memtest_Progress_Infinity(&progress);
      break;
    case 2:
      Memtest_Progress(&progress);
      break;
    default:
      break;
  }
  return reinterpret_cast<void*>(static_cast<intptr_t>(1));
}

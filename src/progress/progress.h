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
void innovate_progress_time(progress_t* rec, char* text);
void innovate_progress_infinity(progress_t* rec, char* text);
void progress_make_message(progress_t* rec, char* text, uint32_t* pass);
void progress_end_make_message_IA(char* text);

// Test seam for "now" in seconds. nullptr restores time(nullptr).
using ProgressNowFn = time_t (*)();
void set_progress_now_fn(ProgressNowFn fn);

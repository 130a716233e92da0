// One progress step: the arithmetic of timed, sized and endless runs and the
// record it sends.
#include "progress/progress_step.h"

#include <cstdint>

#include "common/logfile.h"
#include "common/test_inf.h"
#include "common/transmit.h"
#include "progress/progress.h"
#include "progress/progress_message.h"
#include "state/final_status.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/pmem_state.h"
#include "state/test_level.h"

namespace {

constexpr uint32_t kStateRunning = 1;
constexpr uint32_t kStateCanceled = 3;
constexpr int32_t kClockBackLimit = 300;

// The clock went back behind the start, or by kClockBackLimit seconds or
// more: the process ends here with the "No Error" status and exit code 0,
// without waiting for the test thread.
void clock_back_end() {
  // A cancel that already owns the end sends its own status and ends the
  // process; this thread only stops.
  if (!progress_claim_end()) {
    progress_stop_loop();
    return;
  }
  // The block allocator's areas are deliberately not freed here: the test
  // thread is still running and may be using the message table or a list
  // buffer. _exit releases everything, and runs no static destructors that
  // could race with the test thread.
  transmit_status(kStatusNoError, 0, 0, nullptr);
  progress_end_process(0);
}

// Seconds left of a RUNTIME run, never below 0.
uint32_t remaining_seconds(const progress_t* rec) {
  const int32_t left = static_cast<int32_t>(rec->total_time - rec->elapsed_time);
  return left > 0 ? static_cast<uint32_t>(left) : 0;
}

// Record of a run without RUNTIME (bounded by size or level): the percent of
// the current round, pinned at 100 once one round has been counted.
void send_round_record(progress_t* rec, char* text, uint32_t* pass, uint32_t round) {
  const uint64_t ticks = Ex_thread_counter;
  if (round != 0) {
    rec->percent = static_cast<uint32_t>((ticks % round) * 100 / round);
    if (ticks / round != 0) substantial_f = 1;
  } else {
    // A round of 0 seconds (a PMEM estimate of 0) has no fraction to show:
    // such records carry percent 0 and remaining 0 until a round completes.
    rec->percent = 0;
  }
  progress_make_message(rec, text, pass);
  if (substantial_f == 1) {
    transmit_progress(rec->elapsed_time, 0, 100, kStateRunning, text);
  } else {
    // Here ticks < round (or round is 0), so the difference is not negative.
    const uint32_t remaining = round != 0 ? static_cast<uint32_t>(round - ticks) : 0;
    transmit_progress(rec->elapsed_time, remaining, rec->percent, kStateRunning, text);
  }
}

}  // namespace

uint32_t progress_round_length() {
  uint32_t round = 0;
  if (execute_time_used.load() == 0) {
    const TestLevelRow& row = test_level_row(Ex_dwTestLevel.load());
    if (row.progress_thread) round = static_cast<uint32_t>(row.lv_time_ms / 1000);
  }
  if (Ex_pmem_FIND.load() == 1) round = Ex_pmem_1round_sec.load();
  return round;
}

void innovate_progress_time(progress_t* rec, char* text) {
  if (TEST_INF.test_mode.load() != kModeOnline) return;
  const uint32_t round = progress_round_length();
  if (rec->total_time == 0) rec->total_time = 1;
  const int32_t now = static_cast<int32_t>(progress_now());

  if (static_cast<int32_t>(rec->start_time) > now) {
    printfx(kPfTraceText, "innovate_progress_time()  part-1 progress->start_time=%x now_times=%x\n",
            rec->start_time, static_cast<uint32_t>(now));
    clock_back_end();
    return;
  }
  rec->elapsed_time = static_cast<uint32_t>(now) - rec->start_time;
  rec->percent = rec->elapsed_time * 100 / rec->total_time;

  if (old_times < now) {
    old_times = now;
    const uint32_t pass_cnt = Ex_pass_cnt.load();
    TEST_INF.pass_count = pass_cnt;
    uint32_t pass = pass_cnt;
    if (execute_time_used.load() == 0) {
      send_round_record(rec, text, &pass, round);
    } else if (execute_cancel.load() != 0) {
      progress_end_make_message_IA(text);
      transmit_progress(rec->elapsed_time, remaining_seconds(rec), rec->percent, kStateCanceled,
                        text);
    } else {
      progress_make_message(rec, text, &pass);
      transmit_progress(rec->elapsed_time, remaining_seconds(rec), rec->percent, kStateRunning,
                        text);
    }
    Ex_thread_counter += 1;
    return;
  }

  if (static_cast<int32_t>(rec->start_time) < now) {
    if (static_cast<int64_t>(now) + kClockBackLimit <= old_times) {
      printfx(kPfTraceText,
              "innovate_progress_time()  part-2 progress->start_time=%x now_times=%x "
              "old_times=%x\n",
              rec->start_time, static_cast<uint32_t>(now), static_cast<uint32_t>(old_times));
      clock_back_end();
      return;
    }
    // A smaller step back: no record in this second, records resume in the
    // next one.
    old_times = now;
  }
}

void innovate_progress_infinity(progress_t* rec, char* text) {
  if (TEST_INF.test_mode.load() != kModeOnline) return;
  const uint32_t round = progress_round_length();
  const int32_t now = static_cast<int32_t>(progress_now());

  // The first round starts at the first step, so the first record does not
  // carry the seconds since the epoch. A clock set back behind the round
  // start also starts a new round, so the elapsed time never goes negative.
  if (Ex_infini_start_time == 0 || now < Ex_infini_start_time) Ex_infini_start_time = now;
  rec->elapsed_time = static_cast<uint32_t>(now - Ex_infini_start_time);
  if (static_cast<int32_t>(rec->elapsed_time) >= static_cast<int32_t>(round)) {
    Ex_infini_start_time = now;
  }

  if (static_cast<int64_t>(old_times) + 1 < now) {
    old_times = now;
    // Without a round length (an endless run without PMEM, or a PMEM estimate
    // of 0) there is no fraction to show: the percent is 0.
    const int64_t elapsed = static_cast<int32_t>(rec->elapsed_time);
    rec->percent =
        round == 0 ? 0 : static_cast<uint32_t>(elapsed * 100 / static_cast<int64_t>(round));
    TEST_INF.pass_count = Ex_pass_cnt.load();
    if (Ex_Thread_End_f.load() == 0) {
      uint32_t pass = Ex_pass_cnt.load();
      progress_make_message(rec, text, &pass);
      if (Ex_Thread_End_f.load() == 0) {
        transmit_progress(rec->elapsed_time, rec->total_time, rec->percent, kStateRunning, text);
        Ex_thread_counter += 1;
      }
    }
  }
}

// Texts of the progress records: the running text and the final text.
#include "progress/progress_message.h"

#include <cstdio>
#include <cstring>

#include "progress/progress.h"
#include "state/memstruct.h"
#include "state/param_block.h"

namespace {

constexpr size_t kTextSize = 48;
constexpr uint32_t kPassLatch = 9999;

struct RunningText {
  uint16_t algo_no;
  uint16_t data_kind;
  const char* text;
};

constexpr RunningText kRunningTexts[] = {
    {kAlgoMscan, kDataCrossTalk, "I0399:<<MSCAN1 w/r Pass="},
    {kAlgoMscan, kDataRepeat, "I0399:<<MSCAN2 w/r Pass="},
    {kAlgoMarch, kDataCrossTalk, "I0399:<<MARCH1 w/r Pass="},
    {kAlgoMarch, kDataRepeat, "I0399:<<MARCH2 w/r Pass="},
    {kAlgoMasest, kDataCrossTalk, "I0399:<<MASEST1 w/r Pass="},
    {kAlgoMasest, kDataRepeat, "I0399:<<MASEST2 w/r Pass="},
    {kAlgoBmove, kDataCrossTalk, "I0399:<<BMOVE1 w/r Pass="},
    {kAlgoBmove, kDataRepeat, "I0399:<<BMOVE2 w/r Pass="},
    {kAlgoImove, kDataCrossTalk, "I0399:<<IMOVE1 w/r Pass="},
    {kAlgoImove, kDataRepeat, "I0399:<<IMOVE2 w/r Pass="},
};
constexpr char kPmemText[] = "I0399:<<PMEM read Pass=";
constexpr char kStartText[] = "I0399:<<Start processing Pass=";

// The text before the pass number; the start text when no test step runs.
const char* running_text_prefix(uint16_t algo_no, uint16_t data_kind) {
  if (algo_no == kAlgoPmem) return kPmemText;
  for (const RunningText& entry : kRunningTexts) {
    if (entry.algo_no == algo_no && entry.data_kind == data_kind) return entry.text;
  }
  return kStartText;
}

}  // namespace

void progress_make_message(progress_t* /*rec*/, char* text, uint32_t* pass) {
  std::memset(text, 0, 4);
  // The control block is in place before the thread starts; the wait only
  // guards a thread started early, and gives up when the test has ended.
  for (;;) {
    if (Ex_Thread_End_f.load() != 0) return;
    if (Ex_MemStruct.load() != nullptr) break;
    progress_pause_1s();
  }
  const VykTp2MemStruct_t* ctl = Ex_MemStruct.load();
  const char* prefix = running_text_prefix(ctl->algo_no.load(), ctl->data_kind.load());

  // Four digits at most; once the pass number has shown 9999 it stays there.
  // The remainder is taken unsigned so that a pass count past 2^31 never
  // shows a minus sign.
  uint32_t number;
  if (Ex_infini_cnt == kPassLatch) {
    number = kPassLatch;
    *pass = kPassLatch;
  } else {
    number = *pass % 10000;
    if (number == kPassLatch) Ex_infini_cnt = kPassLatch;
  }
  std::snprintf(text, kTextSize, "%s%u>>", prefix, static_cast<unsigned>(number));
  std::snprintf(Ex_progress_end_msg, sizeof Ex_progress_end_msg, "%s", text);
}

void progress_end_make_message_IA(char* text) {
  const char* final_text = "I0399:<<memtest Completed>>";
  if (execute_cancel.load() == 1) {
    final_text = "I0399:<<memtest Canceled>>";
  } else if (execute_time_used.load() == 0) {
    final_text = "I0399:<<memtest No Error>>";
  }
  std::snprintf(text, kTextSize, "%s", final_text);
}

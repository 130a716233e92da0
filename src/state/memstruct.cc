#include "state/memstruct.h"

#include <cstring>
#include <initializer_list>

namespace {

constexpr uint64_t kCommitSizeStart = 0x4000000;  // 64 MiB chunks

}  // namespace

VykTp2MemStruct_t VykTp2MemStruct;
Error_Details_t Error_Details;

int Ex_argc;
char** Ex_argv;
std::atomic<uint32_t> Ex_dwTestLevel{0};
std::atomic<int32_t> Ex_ret_thread_memtest{1};
std::atomic<uint32_t> Ex_dwReturnValue{1};
std::atomic<uint32_t> Ex_Thread_End_f{0};
uint64_t Ex_Prev_MSec;
std::atomic<uint32_t> Ex_pass_cnt{0};
std::atomic<uint32_t> Ex_error_list_level{0};
std::atomic<void*> Ex_lpCommittedBuffer{nullptr};
std::atomic<uint32_t> Ex_Committed_dwSize{0};
std::atomic<uint64_t> Ex_dwDebug_TKind{0};
std::atomic<VykTp2MemStruct_t*> Ex_MemStruct{nullptr};
char Ex_progress_end_msg[48];
uint64_t Commit_Size = kCommitSizeStart;

void memstruct_clear(VykTp2MemStruct_t* ctl) {
  ctl->dwTestLevel = 0;
  ctl->single_run = 0;
  ctl->use_nonpse = 0;
  ctl->pse36_active = 0;
  ctl->size_unit = 0;
  ctl->mem_kind = 0;
  ctl->algo_no = 0;
  ctl->data_kind = 0;
  ctl->pattern_bits = 0;
  ctl->pmem_test_ad = 0;
  ctl->pmem_test_ad_end = 0;
}

void run_state_clear() {
  memstruct_clear(&VykTp2MemStruct);
  VykTp2MemStruct.param = nullptr;
  Error_Details = Error_Details_t{};
  Ex_argc = 0;
  Ex_argv = nullptr;
  Ex_dwTestLevel = 0;
  Ex_ret_thread_memtest = 1;
  Ex_dwReturnValue = 1;
  for (std::atomic<uint32_t>* word :
       {&Ex_Thread_End_f, &Ex_pass_cnt, &Ex_error_list_level, &Ex_Committed_dwSize}) {
    word->store(0);
  }
  Ex_Prev_MSec = 0;
  Ex_lpCommittedBuffer = nullptr;
  Ex_dwDebug_TKind = 0;
  Ex_MemStruct = nullptr;
  std::memset(Ex_progress_end_msg, 0, sizeof Ex_progress_end_msg);
  Commit_Size = kCommitSizeStart;
}

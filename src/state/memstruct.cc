#include "state/memstruct.h"

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
uint64_t Commit_Size = 0x4000000;

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

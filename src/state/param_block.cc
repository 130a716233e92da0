#include "state/param_block.h"

#include <initializer_list>

ParamStruct_t ParamStruct;
uint8_t Fake_Err[8];

namespace {

// Start values other than zero.
constexpr uint64_t kExecuteTimeStart = 30000;
constexpr uint64_t kTotalExecuteSizeStart = 0x200000;

}  // namespace

uint64_t execute_time = kExecuteTimeStart;
std::atomic<uint32_t> execute_time_used{0};
std::atomic<uint32_t> execute_infinity_used{0};
std::atomic<uint32_t> execute_size_used{0};
std::atomic<uint32_t> execute_waitsec{0};
std::atomic<uint32_t> execute_waitsec_used{0};
std::atomic<uint32_t> execute_pa_used{0};
uint64_t Ex_test_ad;
std::atomic<uint32_t> Ex_pmem_FIND{0};
char* lpTempString;

uint64_t Total_Execute_Size = kTotalExecuteSizeStart;
uint32_t Algo_Count_ForProgress;

void param_block_clear() {
  ParamStruct = ParamStruct_t{};
  for (uint8_t& f : Fake_Err) f = 0;
  execute_time = kExecuteTimeStart;
  for (std::atomic<uint32_t>* setting :
       {&execute_time_used, &execute_infinity_used, &execute_size_used, &execute_waitsec,
        &execute_waitsec_used, &execute_pa_used, &Ex_pmem_FIND}) {
    setting->store(0);
  }
  Ex_test_ad = 0;
  lpTempString = nullptr;
  Total_Execute_Size = kTotalExecuteSizeStart;
  Algo_Count_ForProgress = 0;
}

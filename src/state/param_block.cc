#include "state/param_block.h"

ParamStruct_t ParamStruct;
uint8_t Fake_Err[8];

uint64_t execute_time = 30000;
std::atomic<uint32_t> execute_time_used{0};
std::atomic<uint32_t> execute_infinity_used{0};
std::atomic<uint32_t> execute_size_used{0};
std::atomic<uint32_t> execute_waitsec{0};
std::atomic<uint32_t> execute_waitsec_used{0};
std::atomic<uint32_t> execute_pa_used{0};
uint64_t Ex_test_ad;
std::atomic<uint32_t> Ex_pmem_FIND{0};
char* lpTempString;

uint64_t Total_Execute_Size = 0x200000;
uint32_t Algo_Count_ForProgress;

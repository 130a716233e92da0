// The keyword parser after the run-setting pre-scan, as at the start of a
// run, over whole argument vectors (one argument per input line).
#include "fuzz_common.h"
#include "params/param.h"
#include "state/memstruct.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fz::quiet_start();
  fz::Args args(data, size);
  ParamStruct = ParamStruct_t{};
  memstruct_clear(&VykTp2MemStruct);
  VykTp2MemStruct.param = &ParamStruct;
  for (auto* flag : {&execute_time_used, &execute_infinity_used, &execute_size_used,
                     &execute_waitsec, &execute_waitsec_used, &execute_cancel, &Ex_pmem_FIND}) {
    flag->store(0);
  }
  Ex_test_ad = 0;
  Pre_Getp_ForProgress(args.argv.data());
  uint8_t algos[5] = {};
  uint32_t error = 0;
  VykTp2ParseParam2(args.argv.data(), &VykTp2MemStruct, algos, &error);
  return 0;
}

// The keyword parser after the run-setting pre-scan, as at the start of a
// run, over whole argument vectors (one argument per input line). Whatever the
// words, the pre-scan goes on, the parse ends in success or a Parameter Error
// with a known error number, and the working text is released.
#include "fuzz_common.h"
#include "params/parse_param.h"
#include "params/prescan.h"
#include "state/memstruct.h"
#include "state/param_block.h"

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
  constexpr uint32_t kUntouched = 0xDEADBEEF;
  uint8_t algos[5] = {};
  uint32_t error = kUntouched;
  const int32_t pre = Pre_Getp_ForProgress(args.argv.data());
  const uint32_t rc = VykTp2ParseParam2(args.argv.data(), &VykTp2MemStruct, algos, &error);
  const bool known = error == kUntouched || (error >= 21 && error <= 32 && error != 24);
  if (pre != 1 || (rc != 1 && rc != 16) || (rc == 16 && !known) || lpTempString != nullptr) {
    std::fprintf(stderr, "pre-scan %d, parse %u, error %u\n", pre, rc, error);
    std::abort();
  }
  return 0;
}

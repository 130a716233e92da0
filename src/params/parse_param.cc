// VykTp2ParseParam2: the memory-test keywords into ParamStruct, algo_array,
// Fake_Err and the run settings. Called at the start of every run.
#include "params/parse_param.h"

#include <cstring>
#include <iterator>

#include "common/logfile.h"
#include "params/number_rules.h"
#include "params/param_text.h"
#include "params/tp_window.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/test_level.h"

namespace {

using memtest_params::equals_ci;
using memtest_params::kDefaultSize;
using memtest_params::ParamText;
using memtest_params::starts_with_ci;

constexpr uint32_t kErrSizeTwice = 21;
constexpr uint32_t kErrUseValue = 22;
constexpr uint32_t kErrUseTwice = 23;
constexpr uint32_t kErrTpNone = 25;
constexpr uint32_t kErrTpTwice = 26;
constexpr uint32_t kErrDataValue = 27;
constexpr uint32_t kErrDataTwice = 28;
constexpr uint32_t kErrSaUnit = 29;
constexpr uint32_t kErrSaNumber = 30;
constexpr uint32_t kErrSaTwice = 31;
constexpr uint32_t kErrNoPse36 = 32;

constexpr uint32_t kUnitSa0 = 1;
constexpr uint32_t kUnitMb = 0x100000;
constexpr uint32_t kUnitGb = 0x40000000;
constexpr uint64_t kSaLimit = 0x1000000000ULL;  // 64 GiB

struct Parse {
  VykTp2MemStruct_t* ctl;
  uint8_t* algo_array;
  const ParamText* text;
  memtest_params::RuntimeState runtime;
  bool pmem_selected = false;
};

// Each keyword routine gets the token without its keyword and returns 0 or
// the parameter error number.
uint32_t parse_lv(Parse& p, std::string_view rest) {
  if (rest.empty() || rest[0] < '0' || rest[0] > '9') return 0;
  const uint32_t level = static_cast<uint32_t>(rest[0] - '0');
  p.ctl->dwTestLevel = level;
  Ex_dwTestLevel = level;
  if (execute_size_used.load() == 0) ParamStruct.dwSize = kDefaultSize;
  return 0;
}

void apply_runtime(uint32_t n, const char* trace_fmt) {
  if (execute_size_used.load() == 1) {
    ParamStruct.dwSize = kDefaultSize;
    ParamStruct.dwlSize = kDefaultSize;
    execute_size_used = 0;
  }
  memtest_params::runtime_apply(n, trace_fmt);
}

uint32_t parse_runtime(Parse& p, std::string_view rest) {
  if (p.runtime.number_read || Ex_dwTestLevel.load() == 0) return 0;
  uint32_t n = 0;
  if (memtest_params::runtime_take(rest, &p.runtime, &n)) {
    apply_runtime(n,
                  "_ParseParam(-RUNTIME)  dec_vl=%d, execute_time=0x%llx, execute_time_used=%d\n");
  }
  return 0;
}

uint32_t parse_size(Parse&, std::string_view rest) {
  if (Ex_dwTestLevel.load() == 0) return 0;
  if (ParamStruct.dwSizeCount != 0) return kErrSizeTwice;
  ParamStruct.dwSizeCount += 1;
  if (!starts_with_ci(rest, "FULL")) {
    const uint64_t size = memtest_params::read_size_rule(rest);
    ParamStruct.dwSize = size;
    ParamStruct.dwlSize = size;
    execute_size_used = 1;
  }
  if (execute_time_used.load() == 1) {  // a run time always wins over a size
    ParamStruct.dwSize = kDefaultSize;
    ParamStruct.dwlSize = kDefaultSize;
    execute_size_used = 0;
  } else {
    execute_time = test_level_row(Ex_dwTestLevel.load()).size_time_ms;
  }
  return 0;
}

uint32_t parse_use(Parse& p, std::string_view rest) {
  if (ParamStruct.wUseCount != 0) return kErrUseTwice;
  ParamStruct.wUseCount += 1;
  if (equals_ci(rest, "ALL")) {
    ParamStruct.wUseMode = kUseAll;
  } else if (equals_ci(rest, "USER")) {
    ParamStruct.wUseMode = kUseUser;
    p.ctl->pse36_active = 0;
    p.ctl->use_nonpse = 1;
  } else if (equals_ci(rest, "AWE")) {
    ParamStruct.wUseMode = kUseAwe;
    p.ctl->pse36_active = 0;
    p.ctl->use_nonpse = 0;
  } else if (equals_ci(rest, "PSE36")) {
    ParamStruct.wUseMode = kUsePse36;
    p.ctl->pse36_active = 1;
    p.ctl->use_nonpse = 0;
  } else {
    return kErrUseValue;
  }
  return 0;
}

void on_tp_hit(const memtest_params::TpHit& hit, void* ctx) {
  Parse& p = *static_cast<Parse*>(ctx);
  switch (hit.word) {
    case memtest_params::TpWord::kWhole:
      // All five, MARCH too; the main sequence's algorithm table decides
      // which of them a WHOLE pass calls.
      ParamStruct.wTestMode = kTestWhole;
      std::memset(p.algo_array, kAlgoSelected, 5);
      break;
    case memtest_params::TpWord::kAlgo:
      ParamStruct.wTestMode = kTestOneByOne;
      p.algo_array[hit.algo] = kAlgoSelected;
      if (hit.fake) Fake_Err[hit.algo] = 1;
      break;
    case memtest_params::TpWord::kAbort:
      Fake_Err[5] = 1;
      [[fallthrough]];
    case memtest_params::TpWord::kPmem:
      Ex_pmem_FIND = 1;
      p.pmem_selected = true;
      break;
  }
}

uint32_t parse_tp(Parse& p, std::string_view rest) {
  if (ParamStruct.wTpCount != 0) return kErrTpTwice;
  ParamStruct.wTpCount += 1;
  std::memset(p.algo_array, 0, 5);
  const size_t start = static_cast<size_t>(rest.data() - p.text->base());
  memtest_params::tp_window_scan(p.text->base(), memtest_params::kTextSize, start, &on_tp_hit, &p);
  for (int i = 0; i < 5; ++i) {
    if (p.algo_array[i] == kAlgoSelected) return 0;
  }
  return p.pmem_selected ? 0 : kErrTpNone;
}

uint32_t parse_data(Parse&, std::string_view rest) {
  if (ParamStruct.wDataCount != 0) return kErrDataTwice;
  ParamStruct.wDataCount += 1;
  if (equals_ci(rest, "ALL")) {
    ParamStruct.wDataMode = kDataAll;
  } else if (equals_ci(rest, "CROSSTALK")) {
    ParamStruct.wDataMode = kDataCrossTalk;
  } else if (equals_ci(rest, "REPEAT")) {
    ParamStruct.wDataMode = kDataRepeat;
  } else {
    return kErrDataValue;
  }
  return 0;
}

uint32_t parse_sa(Parse& p, std::string_view rest) {
  if (p.ctl->size_unit == kUnitSa0 || ParamStruct.dwSaValue != 0) return kErrSaTwice;
  if (!rest.empty() && rest[0] == '0') {
    p.ctl->size_unit = kUnitSa0;
    ParamStruct.dwSaValue = 0;
    return 0;
  }
  // The unit letters are upper case only.
  if (rest.ends_with("GB")) {
    rest.remove_suffix(2);
    p.ctl->size_unit = kUnitGb;
  } else if (rest.ends_with("MB")) {
    rest.remove_suffix(2);
    p.ctl->size_unit = kUnitMb;
  }
  if (p.ctl->size_unit == 0) return kErrSaUnit;
  char number[memtest_params::kTextSize];
  std::memcpy(number, rest.data(), rest.size());  // a token is shorter than the text buffer
  number[rest.size()] = '\0';
  if (VykTp2StringToLong(number, &ParamStruct.dwSaValue, 0) != 1) return kErrSaNumber;
  // An SA area over 64 GiB is refused as a bad SA number rather than ending
  // the parse early with the later checks skipped.
  if (static_cast<uint64_t>(ParamStruct.dwSaValue) * p.ctl->size_unit > kSaLimit) {
    printfx(kPfTraceText, "_ParseParam()  SA over 64GB(dwSaValue=%u size_unit=0x%x)\n",
            ParamStruct.dwSaValue, p.ctl->size_unit);
    return kErrSaNumber;
  }
  return 0;
}

uint32_t parse_pa(Parse&, std::string_view rest) {
  memtest_params::apply_pa(rest);
  return 0;
}

uint32_t parse_waitsec(Parse&, std::string_view rest) {
  memtest_params::apply_waitsec(rest);
  return 0;
}

struct Keyword {
  std::string_view name;
  uint32_t (*parse)(Parse&, std::string_view rest);
};

// A token is taken by the first keyword it begins with, in this order.
constexpr Keyword kKeywords[] = {
    {"LV", parse_lv},   {"RUNTIME", parse_runtime}, {"SIZE", parse_size},
    {"USE", parse_use}, {"TP", parse_tp},           {"DATA", parse_data},
    {"SA", parse_sa},   {"PA", parse_pa},           {"WAITSEC", parse_waitsec},
};

void set_defaults(VykTp2MemStruct_t* ctl) {
  std::memset(&Error_Details, 0, sizeof Error_Details);
  ParamStruct = ParamStruct_t{};
  ParamStruct.wTestMode = kTestOneByOne;
  ParamStruct.dwSaValue = 0;
  ParamStruct.wDataMode = kDataCrossTalk;
  ParamStruct.wUseMode = kUseUser;
  ctl->use_nonpse = 1;
  ctl->pse36_active = 0;
  ctl->size_unit = 0;
  ParamStruct.dwSize = kDefaultSize;
  ParamStruct.dwlSize = kDefaultSize;
}

// The joined text must fit the working buffer. A longer argument list is
// refused as a parameter error ("Parameter Error", number untouched) rather
// than parsed in part: a cut text could drop or shorten a keyword and run a
// test the controller never asked for.
bool join_or_refuse(ParamText& text, char** argv, int max_args, char sep) {
  if (text.join(argv, max_args, sep)) return true;
  printfx(kPfTraceText, "_ParseParam()  Parameter text over 2047 characters\n");
  return false;
}

uint32_t slash_pass(Parse& p, char** argv) {
  ParamText text;
  if (!text.allocate()) {
    printfx(kPfTraceText, "ParseParam2() malloc error\n");
    return kRcParam;
  }
  if (!join_or_refuse(text, argv, memtest_params::kSlashPassArgs, '/')) return kRcParam;
  const memtest_params::PassEnd end =
      memtest_params::slash_runtime_pass(text, &p.runtime, [](uint32_t n) {
        apply_runtime(
            n, "_ParseParam(/RUNTIME)  dec_vl=%d, execute_time=0x%llx, execute_time_used=%d\n");
      });
  return end == memtest_params::PassEnd::kCancel ? kRcCancel : kRcOk;
}

uint32_t dash_pass(Parse& p, char** argv, uint32_t* error_number) {
  ParamText text;
  if (!text.allocate()) {
    printfx(kPfTraceText, "ParseParam2() malloc error 2\n");
    return kRcParam;
  }
  if (!join_or_refuse(text, argv, memtest_params::kDashPassArgs, '-')) return kRcParam;
  p.text = &text;
  const memtest_params::PassEnd end = memtest_params::dash_keyword_pass(
      text, kKeywords, [&](const Keyword& k, std::string_view rest) {
        const uint32_t err = k.parse(p, rest);
        if (err != 0) *error_number = err;
        return err == 0;
      });
  if (end == memtest_params::PassEnd::kCancel) return kRcCancel;
  if (end == memtest_params::PassEnd::kStopped) return kRcParam;
  p.text = nullptr;
  return kRcOk;
}

}  // namespace

std::string_view memtest_params::keyword_name(size_t i) {
  return i < std::size(kKeywords) ? kKeywords[i].name : std::string_view();
}

uint32_t VykTp2ParseParam2(char** argv, VykTp2MemStruct_t* ctl, uint8_t* algo_array,
                           uint32_t* error_number) {
  set_defaults(ctl);
  Parse p{ctl, algo_array, nullptr, {}, false};

  uint32_t rc = slash_pass(p, argv);
  if (rc != kRcOk) return rc;
  rc = dash_pass(p, argv, error_number);
  if (rc != kRcOk) return rc;

  if (ParamStruct.wUseMode == kUsePse36 || ParamStruct.wUseMode == kUseAll) {
    printfx(kPfTraceText, "_ParseParam()  PSE36 Mode is not Supported.\n");
    *error_number = kErrNoPse36;
    return kRcParam;
  }
  if (p.pmem_selected) {
    ctl->algo_no = kAlgoPmem;
    ParamStruct.dwSize = memtest_params::kPmemBlockSize;
    ParamStruct.dwlSize = memtest_params::kPmemBlockSize;
  }
  printfx(kPfTraceText, "_ParseParam() Normal End(dwSize=0x%llx dwlSize=0x%llx)\n",
          static_cast<unsigned long long>(ParamStruct.dwSize),
          static_cast<unsigned long long>(ParamStruct.dwlSize));
  printfx(kPfTraceText, "_ParseParam() algo_array[]={%d %d %d %d %d }\n", algo_array[0],
          algo_array[1], algo_array[2], algo_array[3], algo_array[4]);
  printfx(kPfTraceText, "_ParseParam() Start Physical Address(from PA Param.)=0x%llx\n",
          static_cast<unsigned long long>(Ex_test_ad));
  return kRcOk;
}

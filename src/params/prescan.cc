// Pre_Getp_ForProgress: the run settings from the keyword text, once before
// the first run, so the progress thread knows level, run time and PMEM.
#include "params/prescan.h"

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

// The pre-scan answers with the parser's result codes; a failed working
// text allocation is reported as the parser reports it.
constexpr int32_t kPreOk = static_cast<int32_t>(kRcOk);
constexpr int32_t kPreCancel = static_cast<int32_t>(kRcCancel);
constexpr int32_t kPreNoMemory = static_cast<int32_t>(kRcParam);

struct PreScan {
  const ParamText* text = nullptr;
  memtest_params::RuntimeState runtime;
  bool marked[5] = {};
  bool algo_named = false;
  uint32_t data_factor = 1;
};

void pre_lv(PreScan& s, std::string_view rest) {
  if (rest.empty() || rest[0] < '0' || rest[0] > '9') return;
  const uint32_t level = static_cast<uint32_t>(rest[0] - '0');
  Ex_dwTestLevel = level;
  if (!s.runtime.number_read) execute_time = test_level_row(level).lv_time_ms;
}

void pre_pa(PreScan&, std::string_view rest) {
  memtest_params::apply_pa(rest);
}

void pre_runtime(PreScan& s, std::string_view rest) {
  if (s.runtime.number_read) return;
  uint32_t n = 0;
  if (!memtest_params::runtime_take(rest, &s.runtime, &n)) return;
  // Sets the endless run time last; the size settings below do not read it.
  memtest_params::runtime_apply(
      n, "Pre_Getp_ForProgress(-RUNTIME)  dec_vl=%d, execute_time=0x%llx, execute_time_used=%d\n");
  Total_Execute_Size = kDefaultSize;
  execute_size_used = 0;
}

void pre_size(PreScan&, std::string_view rest) {
  const uint32_t level = Ex_dwTestLevel.load();
  if (starts_with_ci(rest, "FULL")) {
    if (level != 0) {
      Total_Execute_Size = kDefaultSize;
      execute_size_used = 1;
    }
  } else {
    Total_Execute_Size = memtest_params::read_size_rule(rest);
    execute_size_used = 1;
  }
  if (execute_time_used.load() == 1) {
    Total_Execute_Size = kDefaultSize;
    execute_size_used = 0;
  } else {
    execute_time = test_level_row(level).size_time_ms;
  }
}

void on_tp_hit(const memtest_params::TpHit& hit, void* ctx) {
  PreScan& s = *static_cast<PreScan*>(ctx);
  switch (hit.word) {
    case memtest_params::TpWord::kWhole:
      for (bool& m : s.marked) m = true;  // counted as the parser selects them
      s.algo_named = true;
      break;
    case memtest_params::TpWord::kAlgo:
      s.marked[hit.algo] = true;
      s.algo_named = true;
      break;
    case memtest_params::TpWord::kAbort:
      Fake_Err[5] = 1;
      [[fallthrough]];
    case memtest_params::TpWord::kPmem:
      Ex_pmem_FIND = 1;
      break;
  }
}

void pre_tp(PreScan& s, std::string_view rest) {
  const size_t start = static_cast<size_t>(rest.data() - s.text->base());
  memtest_params::tp_window_scan(s.text->base(), memtest_params::kTextSize, start, &on_tp_hit, &s);
}

void pre_data(PreScan& s, std::string_view rest) {
  if (equals_ci(rest, "ALL")) {
    s.data_factor = 2;
  } else if (equals_ci(rest, "CROSSTALK") || equals_ci(rest, "REPEAT")) {
    s.data_factor = 1;
  }
}

void pre_waitsec(PreScan&, std::string_view rest) {
  memtest_params::apply_waitsec(rest);
}

struct Keyword {
  std::string_view name;
  void (*scan)(PreScan&, std::string_view rest);
};

// The run-setting keywords, then the selection keywords in a pass of their
// own over the third working text. No keyword is a prefix of another and
// neither pass reads what the other sets, so the split changes nothing.
constexpr Keyword kSettingKeywords[] = {
    {"LV", pre_lv},     {"PA", pre_pa},           {"RUNTIME", pre_runtime},
    {"SIZE", pre_size}, {"WAITSEC", pre_waitsec},
};
constexpr Keyword kSelectionKeywords[] = {
    {"TP", pre_tp},
    {"DATA", pre_data},
};

// Joins the text for one pass. A text over 2047 characters keeps the
// arguments that fit whole (no keyword value is shortened) and is traced;
// the pre-scan reports no errors, and the parse of the first run refuses the
// over-long text.
bool open_text(ParamText& text, char** argv, char sep, const char* malloc_trace) {
  if (!text.allocate()) {
    printfx(kPfTraceText, malloc_trace);
    return false;
  }
  if (!text.join(argv, memtest_params::kSlashPassArgs, sep)) {
    printfx(kPfTraceText, "Pre_Getp_ForProgress()  Parameter text over 2047 characters, cut\n");
  }
  return true;
}

template <size_t N>
int32_t dash_pass(PreScan& s, char** argv, const char* malloc_trace, const Keyword (&keywords)[N]) {
  ParamText text;
  if (!open_text(text, argv, '-', malloc_trace)) return kPreNoMemory;
  s.text = &text;
  const memtest_params::PassEnd end = memtest_params::dash_keyword_pass(
      text, keywords, [&](const Keyword& k, std::string_view rest) {
        k.scan(s, rest);
        return true;
      });
  if (end == memtest_params::PassEnd::kCancel) return kPreCancel;
  s.text = nullptr;
  return kPreOk;
}

int32_t slash_pass(PreScan& s, char** argv) {
  ParamText text;
  if (!open_text(text, argv, '/', "Pre_Getp_ForProgress() malloc error\n")) return kPreNoMemory;
  const memtest_params::PassEnd end =
      memtest_params::slash_runtime_pass(text, &s.runtime, [](uint32_t n) {
        if (execute_size_used.load() == 1) execute_size_used = 0;
        memtest_params::runtime_apply(n,
                                      "Pre_Getp_ForProgress(/RUNTIME)  dec_vl=%d, "
                                      "execute_time=0x%llx, execute_time_used=%d\n");
      });
  return end == memtest_params::PassEnd::kCancel ? kPreCancel : kPreOk;
}

}  // namespace

int32_t Pre_Getp_ForProgress(char** argv) {
  Ex_dwTestLevel = 0;
  execute_time = kOtherTestLevel.lv_time_ms;
  Algo_Count_ForProgress = 1;
  PreScan s;

  int32_t rc = slash_pass(s, argv);
  if (rc != kPreOk) return rc;
  rc = dash_pass(s, argv, "Pre_Getp_ForProgress() malloc error 2\n", kSettingKeywords);
  if (rc != kPreOk) return rc;
  rc = dash_pass(s, argv, "Pre_Getp_ForProgress() malloc error 3\n", kSelectionKeywords);
  if (rc != kPreOk) return rc;

  uint32_t marked = 0;
  for (bool m : s.marked) marked += m ? 1 : 0;
  Algo_Count_ForProgress = s.algo_named ? 1 + marked : 1;
  const uint64_t size = Total_Execute_Size;
  Total_Execute_Size = size * Algo_Count_ForProgress * s.data_factor;
  printfx(kPfTraceText, "Pre_Getp_ForProgress()  Total_Execute_Size=0x%llx(0x%llx * %d * %d)\n",
          static_cast<unsigned long long>(Total_Execute_Size),
          static_cast<unsigned long long>(size), static_cast<int>(Algo_Count_ForProgress),
          static_cast<int>(s.data_factor));
  return kPreOk;
}

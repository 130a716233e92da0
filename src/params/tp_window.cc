// The TP selection window, shared by the parser and the pre-scan.
#include "params/tp_window.h"

#include <iterator>
#include <string_view>

#include "params/number_rules.h"

namespace memtest_params {
namespace {

struct TpKeyword {
  std::string_view name;
  TpWord word;
  uint8_t algo;
};

// Tested in this order at every position.
constexpr TpKeyword kTpKeywords[] = {
    {"WHOLE", TpWord::kWhole, 0}, {"MSCAN", TpWord::kAlgo, 0},  {"MARCH", TpWord::kAlgo, 1},
    {"MASEST", TpWord::kAlgo, 2}, {"BMOVE", TpWord::kAlgo, 3},  {"IMOVE", TpWord::kAlgo, 4},
    {"PMEM", TpWord::kPmem, 0},   {"ABORT", TpWord::kAbort, 0},
};

}  // namespace

void tp_window_scan(const char* base, size_t size, size_t start, TpHitFn on_hit, void* ctx) {
  if (start >= size) return;
  const size_t end = (size - start > kTpWindow) ? start + kTpWindow : size;
  for (size_t pos = start; pos < end; ++pos) {
    // The rest of the buffer from here: a keyword never matches past its end.
    const std::string_view here(base + pos, size - pos);
    for (const TpKeyword& k : kTpKeywords) {
      if (!starts_with_ci(here, k.name)) continue;
      TpHit hit{k.word, k.algo, false};
      if (k.word == TpWord::kAlgo) {
        const std::string_view after = here.substr(k.name.size());
        hit.fake = !after.empty() && (after[0] == 'X' || after[0] == 'x');
      }
      on_hit(hit, ctx);
      if (k.word == TpWord::kWhole) return;
      break;
    }
  }
}

std::string_view tp_word_name(size_t i) {
  return i < std::size(kTpKeywords) ? kTpKeywords[i].name : std::string_view();
}

}  // namespace memtest_params

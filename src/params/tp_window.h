// The TP selection window, shared by the parser and the pre-scan.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace memtest_params {

// The TP window: the 512 positions that follow "TP" in the working text.
inline constexpr size_t kTpWindow = 512;
enum class TpWord : uint8_t { kWhole, kAlgo, kPmem, kAbort };
struct TpHit {
  TpWord word;
  uint8_t algo;  // 0..4 for kAlgo: MSCAN, MARCH, MASEST, BMOVE, IMOVE
  bool fake;     // the "X" variant of the algorithm
};
// Scans the window that starts at offset `start` of the buffer [base,
// base + size) and calls on_hit for every keyword found; the scan stops after
// "WHOLE". Never reads outside the buffer.
using TpHitFn = void (*)(const TpHit& hit, void* ctx);
void tp_window_scan(const char* base, size_t size, size_t start, TpHitFn on_hit, void* ctx);
// The name of TP word i, in the order they are tried ("" past the last).
std::string_view tp_word_name(size_t i);

}  // namespace memtest_params

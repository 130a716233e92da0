// Token and number rules shared by the keyword parser and the pre-scan, and
// the two small text routines.
#pragma once

#include <cstdint>
#include <string_view>

#include "params/param_text.h"
#include "state/param_block.h"

namespace memtest_params {

inline constexpr uint64_t kDefaultSize = 0x200000;
inline constexpr uint64_t kPmemBlockSize = 0x4000000;
inline constexpr uint64_t kEndlessTime = 0x3E7FFFFFC18ULL;  // (2^32 - 1) s in ms

// Case-insensitive (ASCII) comparisons.
bool starts_with_ci(std::string_view text, std::string_view prefix);
bool equals_ci(std::string_view text, std::string_view word);

// Decimal number rule (RUNTIME, WAITSEC): at most 8 characters, the first a
// digit, ended quietly by the first non-digit; 32-bit unsigned arithmetic.
struct NumberRead {
  bool ok;
  uint32_t value;
};
NumberRead read_decimal_rule(std::string_view rest);
// PA number: at most 8 hexadecimal characters, the first a hex digit.
NumberRead read_pa_rule(std::string_view rest);
// SIZE number: up to three digits, "GB" right behind them for GiB, else MiB;
// 0 becomes the default size.
uint64_t read_size_rule(std::string_view rest);

// RUNTIME handling common to every pass of one scan.
struct RuntimeState {
  bool number_read = false;  // a number with a leading digit was read
  bool bad_seen = false;     // a RUNTIME without a leading digit was seen
};
// Reads the number after "RUNTIME" and updates the state and the endless and
// used flags; true when the number is to be applied (value in *n).
bool runtime_take(std::string_view rest, RuntimeState* st, uint32_t* n);
// Sets the run time from n seconds and traces it with trace_fmt; an endless
// run then gets the longest run time.
void runtime_apply(uint32_t n, const char* trace_fmt);

// PA and WAITSEC, set the same way by the parser and the pre-scan.
void apply_pa(std::string_view rest);
void apply_waitsec(std::string_view rest);

enum class PassEnd : uint8_t { kDone, kCancel, kStopped };

// The slash pass: only the first "/RUNTIME" token is looked at; apply(n) gets
// its number when it is to be applied. A cancel ends the pass between tokens.
template <class Apply>
PassEnd slash_runtime_pass(ParamText& text, RuntimeState* st, Apply&& apply) {
  std::string_view token;
  while (text.next_token(&token)) {
    if (execute_cancel.load() == 1) return PassEnd::kCancel;
    if (!starts_with_ci(token, "RUNTIME")) continue;
    uint32_t n = 0;
    if (runtime_take(token.substr(7), st, &n)) apply(n);
    break;  // later RUNTIME tokens of this pass are not looked at
  }
  return PassEnd::kDone;
}

// The dash pass: a token is taken by the first keyword (k.name) it begins
// with, in table order, and handed to handle(k, rest); a false answer stops
// the pass. A cancel ends the pass between tokens.
template <class Keyword, size_t N, class Handle>
PassEnd dash_keyword_pass(ParamText& text, const Keyword (&keywords)[N], Handle&& handle) {
  std::string_view token;
  while (text.next_token(&token)) {
    if (execute_cancel.load() == 1) return PassEnd::kCancel;
    for (const Keyword& k : keywords) {
      if (!starts_with_ci(token, k.name)) continue;
      if (!handle(k, token.substr(k.name.size()))) return PassEnd::kStopped;
      break;
    }
  }
  return PassEnd::kDone;
}

}  // namespace memtest_params

int32_t VykTp2StringToLong(const char* text, uint32_t* out, int mode);
int get_pa_str(uint64_t value, char* out);

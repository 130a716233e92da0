// Number rules of the keyword values, and the two small text routines.
#include "params/number_rules.h"

#include <cstring>

#include "common/logfile.h"
#include "common/test_inf.h"
#include "state/param_block.h"

namespace memtest_params {
namespace {

constexpr char upper(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}
constexpr bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
constexpr bool is_xdigit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
constexpr uint32_t xdigit_value(char c) {
  if (is_digit(c)) return static_cast<uint32_t>(c - '0');
  return static_cast<uint32_t>(upper(c) - 'A' + 10);
}

constexpr size_t kNumberChars = 8;  // characters a RUNTIME/WAITSEC/PA number may use
constexpr size_t kSizeDigits = 3;

}  // namespace

bool starts_with_ci(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (upper(text[i]) != upper(prefix[i])) return false;
  }
  return true;
}

bool equals_ci(std::string_view text, std::string_view word) {
  return text.size() == word.size() && starts_with_ci(text, word);
}

NumberRead read_decimal_rule(std::string_view rest) {
  rest = rest.substr(0, kNumberChars);
  if (rest.empty() || !is_digit(rest[0])) return {false, 0};
  uint32_t value = 0;
  for (char c : rest) {
    if (!is_digit(c)) break;
    value = value * 10u + static_cast<uint32_t>(c - '0');
  }
  return {true, value};
}

NumberRead read_pa_rule(std::string_view rest) {
  rest = rest.substr(0, kNumberChars);
  if (rest.empty() || !is_xdigit(rest[0])) return {false, 0};
  uint32_t value = 0;
  for (char c : rest) {
    if (!is_xdigit(c)) break;
    value = value * 16u + xdigit_value(c);
  }
  return {true, value};
}

uint64_t read_size_rule(std::string_view rest) {
  size_t digits = 0;
  uint64_t number = 0;
  while (digits < kSizeDigits && digits < rest.size() && is_digit(rest[digits])) {
    number = number * 10 + static_cast<uint64_t>(rest[digits] - '0');
    ++digits;
  }
  const bool gib = starts_with_ci(rest.substr(digits), "GB");
  const uint64_t size = number << (gib ? 30 : 20);
  return size == 0 ? kDefaultSize : size;
}

bool runtime_take(std::string_view rest, RuntimeState* st, uint32_t* n) {
  const NumberRead r = read_decimal_rule(rest);
  if (!r.ok) {
    execute_time_used = 0;
    st->bad_seen = true;
    return false;
  }
  st->number_read = true;
  if (r.value == 0) execute_infinity_used = 1;
  if (st->bad_seen) return false;
  *n = r.value;
  return true;
}

void runtime_apply(uint32_t n, const char* trace_fmt) {
  TEST_INF.runtime = n;
  execute_time = static_cast<uint32_t>(n * 1000u);  // formed in 32 bits
  execute_time_used = 1;
  printfx(kPfTraceText, trace_fmt, static_cast<int>(n),
          static_cast<unsigned long long>(execute_time),
          static_cast<int>(execute_time_used.load()));
  if (execute_infinity_used.load() == 1) execute_time = kEndlessTime;
}

void apply_pa(std::string_view rest) {
  if (!rest.empty() && (rest[0] == 't' || rest[0] == 'T')) return;  // the -path option
  const NumberRead r = read_pa_rule(rest);
  if (r.ok) Ex_test_ad = static_cast<uint64_t>(r.value) << 26;  // 64 MiB units
}

void apply_waitsec(std::string_view rest) {
  const NumberRead r = read_decimal_rule(rest);
  if (!r.ok) {
    execute_waitsec_used = 0;
    return;
  }
  execute_waitsec = r.value;
  execute_waitsec_used = 1;
}

}  // namespace memtest_params

int32_t VykTp2StringToLong(const char* text, uint32_t* out, int mode) {
  using memtest_params::is_digit;
  using memtest_params::is_xdigit;
  if (!text) return 16;
  const bool hex = (mode == 1);
  // The value saturates at the largest 32-bit long, as strtol does on the
  // 32-bit target; 64-bit builds behave the same way.
  constexpr uint64_t kLongMax = 0x7FFFFFFF;
  uint64_t value = 0;
  for (const char* p = text; *p; ++p) {
    if (hex ? !is_xdigit(*p) : !is_digit(*p)) return 16;
    const uint64_t digit = hex ? memtest_params::xdigit_value(*p) : static_cast<uint64_t>(*p - '0');
    value = value * (hex ? 16 : 10) + digit;
    if (value > kLongMax) value = kLongMax + 1;  // stays above the limit, never wraps
  }
  *out = static_cast<uint32_t>(value > kLongMax ? kLongMax : value);
  return 1;
}

int get_pa_str(uint64_t value, char* out) {
  static constexpr char kDigits[] = "0123456789abcdef";
  for (int i = 15; i >= 0; --i) {
    out[i] = kDigits[value & 0xF];
    value >>= 4;
  }
  return 0;
}

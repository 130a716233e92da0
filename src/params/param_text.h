// The joined parameter text that the parser and the pre-scan cut into tokens.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace memtest_params {

inline constexpr size_t kTextSize = 2048;          // working buffer, terminator included
inline constexpr size_t kTextMax = kTextSize - 1;  // longest joined text
inline constexpr int kSlashPassArgs = 31;
inline constexpr int kDashPassArgs = 32;

// The 2048-byte working text of one pass. lpTempString points at it while it
// lives, so the cancel routine can release it; every way out of a pass frees
// it and clears lpTempString.
class ParamText {
 public:
  ParamText() = default;
  ~ParamText() { release(); }
  ParamText(const ParamText&) = delete;
  ParamText& operator=(const ParamText&) = delete;

  // Takes a zeroed buffer from the platform; false when none.
  bool allocate();
  void release();

  // Appends argv[1] .. argv[max_args] (up to the first null entry) without
  // separators, then turns a trailing blank into sep. Arguments that would not
  // fit whole in kTextMax characters are left out, with every one after them;
  // the result is false in that case.
  bool join(char* const* argv, int max_args, char sep);

  // Cuts the next token at sep; runs of separators give no empty tokens.
  bool next_token(std::string_view* token);

  const char* base() const { return buf_; }
  std::string_view text() const { return {buf_, len_}; }

 private:
  char* buf_ = nullptr;
  size_t len_ = 0;
  size_t pos_ = 0;
  char sep_ = '-';
};

}  // namespace memtest_params

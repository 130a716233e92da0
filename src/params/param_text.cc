#include "params/param_text.h"

#include <cstdlib>
#include <cstring>

#include "common/platform.h"
#include "state/param_block.h"

namespace memtest_params {

bool ParamText::allocate() {
  release();
  void* block = platform().text_alloc(kTextSize);
  if (!block) return false;
  buf_ = static_cast<char*>(block);
  std::memset(buf_, 0, kTextSize);
  len_ = 0;
  pos_ = 0;
  lpTempString = buf_;
  return true;
}

void ParamText::release() {
  if (!buf_) return;
  // Clear the published pointer first so the cancel routine never sees a
  // block that is about to be released.
  if (lpTempString == buf_) lpTempString = nullptr;
  std::free(buf_);
  buf_ = nullptr;
  len_ = 0;
  pos_ = 0;
}

bool ParamText::join(char* const* argv, int max_args, char sep) {
  sep_ = sep;
  len_ = 0;
  pos_ = 0;
  if (!buf_) return false;
  bool whole = true;
  if (argv && argv[0]) {
    for (int i = 1; i <= max_args && argv[i]; ++i) {
      const size_t n = std::strlen(argv[i]);
      if (n > kTextMax - len_) {
        whole = false;
        break;
      }
      std::memcpy(buf_ + len_, argv[i], n);
      len_ += n;
    }
  }
  if (len_ > 0 && buf_[len_ - 1] == ' ') buf_[len_ - 1] = sep;
  return whole;
}

bool ParamText::next_token(std::string_view* token) {
  while (pos_ < len_ && buf_[pos_] == sep_) ++pos_;
  if (pos_ >= len_) return false;
  const size_t start = pos_;
  while (pos_ < len_ && buf_[pos_] != sep_) ++pos_;
  *token = std::string_view(buf_ + start, pos_ - start);
  return true;
}

}  // namespace memtest_params

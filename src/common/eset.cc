// Setters of the error record: each fills one part and sets its flag.
#include "common/eset.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/logfile.h"
#include "common/msgtbl.h"
#include "common/platform.h"
#include "common/result_list.h"
#include "common/test_inf.h"

namespace {

constexpr int kFreeLines = 10;
constexpr int kActionLines = 5;
constexpr size_t kLineWidth = 75;
constexpr size_t kTextBuf = 511;  // up to 510 formatted characters

ErrorRecord& rec() {
  return TEST_INF.err;
}

// Clears the whole field, then copies at most width characters.
template <size_t N>
void set_text(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  if (text != nullptr) std::memcpy(field, text, strnlen(text, N - 1));
}

}  // namespace

void eset_init() {
  std::memset(&TEST_INF.err, 0, sizeof TEST_INF.err);
}

void eset_test_infomation(const char* name, const char* device) {
  set_text(rec().einfo_name, name);
  set_text(rec().einfo_device, device);
  rec().eset_flags |= kEsetInfo;
}

void eset_date() {
  format_result_date(platform().time_now(), rec().edate, sizeof rec().edate);
  rec().eset_flags |= kEsetDate;
}

void eset_etitle(const char* text) {
  set_text(rec().etitle, text);
  rec().eset_flags |= kEsetTitle;
}

void eset_freemsg(int idx, const char* text) {
  if (idx < 0 || idx >= kFreeLines) return;
  set_text(rec().freemsg[idx], text);
}

void eset_freemsg_p(int idx, const char* text) {
  if (idx < 0 || idx >= kFreeLines) return;
  set_text(rec().freemsg_p[idx], text);
}

int eset_freemsg_printfx(int which, int idx, uint32_t flags, const char* fmt_or_msgno, ...) {
  const uint32_t kind = flags & (kPfFormat | kPfMsgNo);
  const char* fmt = nullptr;
  if (kind == kPfFormat) {
    fmt = fmt_or_msgno;
  } else if (kind == kPfMsgNo) {
    fmt = cv_msgno2fmt(fmt_or_msgno);
  }
  if (fmt == nullptr) return -1;

  char text[kTextBuf + 1] = {};
  va_list ap;
  va_start(ap, fmt_or_msgno);
  std::vsnprintf(text, kTextBuf, fmt, ap);
  va_end(ap);
  // 0 selects the first list; the memory test only ever passes 1, the second.
  if (which == 0) {
    eset_freemsg(idx, text);
  } else {
    eset_freemsg_p(idx, text);
  }
  return 0;
}

void eset_system_call(const char* name, int err) {
  set_text(rec().syscall_name, name);
  rec().syscall_errno = err;
  rec().eset_flags |= kEsetSyscall;
}

void eset_action(int idx, const char* msgno, ...) {
  if (idx < 0 || idx >= kActionLines || msgno == nullptr) return;
  const char* fmt = cv_msgno2fmt(msgno);
  if (fmt == nullptr) return;
  char text[kTextBuf + 1] = {};
  va_list ap;
  va_start(ap, msgno);
  std::vsnprintf(text, kTextBuf, fmt, ap);
  va_end(ap);
  rec().eset_flags |= kEsetAction;
  // Copied over the line without clearing it first (callers clear the whole
  // record before each error); the last byte of the line stays the terminator.
  size_t n = std::strlen(text);
  std::memcpy(rec().action_text[idx], text, n < kLineWidth ? n : kLineWidth);
}

// Result texts: the error list, the abort list, the result block of a
// status record, and the header texts they share.
#include "common/result_list.h"

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <type_traits>

#include "common/area.h"
#include "common/eset.h"
#include "common/logfile.h"
#include "common/platform.h"
#include "common/test_inf.h"
#include "common/transmit.h"
#include "state/param_block.h"
#include "state/pmem_state.h"
#include "state/process_end.h"

namespace {

constexpr uint32_t kListSize = 33024;
constexpr size_t kLineSize = 128;  // every line holds at most 127 characters
constexpr size_t kDateSize = 21;
constexpr size_t kHeaderSize = 128;

constexpr char kTitleOnline[] = "[[[[ DIAGNOSIS RESULT ]]]]       ";
constexpr char kTitlePatrol[] = "[[[[ PATROL DIAGNOSIS RESULT ]]]]";
constexpr char kDashes61[] = "-------------------------------------------------------------\n";
constexpr char kDashes73[] =
    "-------------------------------------------------------------------------\n";
constexpr char kEquals78[] =
    "==============================================================================\n";

constexpr uint32_t kRuntimeOneRound = 0x70000000;

// Appends formatted lines to a fixed buffer; a line that would not fit is
// left out whole rather than cut.
class TextBuilder {
 public:
  TextBuilder(char* buf, size_t cap) : buf_(buf), cap_(cap) {
    if (cap_ > 0) buf_[0] = '\0';
  }

  void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    char text[kLineSize];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    size_t n = std::strlen(text);
    if (len_ + n + 1 > cap_) return;
    std::memcpy(buf_ + len_, text, n + 1);
    len_ += n;
  }

  size_t length() const { return len_; }

 private:
  char* buf_;
  size_t cap_;
  size_t len_ = 0;
};

const char* title_word() {
  return TEST_INF.test_mode.load() == kModePatrol ? kTitlePatrol : kTitleOnline;
}

void free_lines(TextBuilder& out, const char (&lines)[10][76]) {
  for (const auto& l : lines) {
    if (l[0] != '\0') out.line(" %s\n", l);
  }
}

void action_block(TextBuilder& out) {
  const ErrorRecord& e = TEST_INF.err;
  if ((e.eset_flags & kEsetAction) != 0) {
    out.line(" ACTION  :\n");
    for (const auto& l : e.action_text) {
      if (l[0] != '\0') out.line("   %s\n", l);
    }
  }
  out.line(" \n");
}

// The TITLE and DEVICE values of the lists.
const char* list_title() {
  const ErrorRecord& e = TEST_INF.err;
  return (e.eset_flags & kEsetInfo) != 0 ? e.einfo_name : TEST_INF.module_name;
}

const char* list_device() {
  const ErrorRecord& e = TEST_INF.err;
  return (e.eset_flags & kEsetInfo) != 0 ? e.einfo_device : TEST_INF.device_name;
}

// Takes a list buffer from the block allocator; 0 or -1 when none.
intptr_t take_list_buffer() {
  return tp_area_ctl(kAreaAlloc, kListSize);
}

bool buffer_ok(intptr_t block) {
  return block != 0 && block != -1;
}

// An error or abort list carries the final status of the run. Claiming the
// end of the process before it goes out keeps a cancel that comes after it
// from sending a second final status; when a cancel already owns the end, the
// test thread that found the error stops here and the cancel's status stands.
void claim_final_status() {
  if (!memtest_claim_end()) park_forever();
}

}  // namespace

void format_result_date(time_t t, char* buf, uint32_t size) {
  tm lt{};
  localtime_r(&t, &lt);
  // A date of the years 2000-2099 fills 19 bytes; a clock outside them is cut
  // to the buffer, never written past it.
  if (std::snprintf(buf, size, "20%02d/%02d/%02d %02d:%02d:%02d", lt.tm_year - 100, lt.tm_mon + 1,
                    lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec) < 0 &&
      size > 0) {
    buf[0] = '\0';
  }
}

char* create_msg_header(int kind, char* buf, uint32_t size, uint32_t status) {
  if (buf == nullptr || size == 0) return buf;
  std::memset(buf, 0, size);
  const unsigned pass = TEST_INF.pass_count.load();
  switch (kind) {
    case 1: {
      const char* fmt = nullptr;
      switch (status) {
        case kStatusNoError:
          fmt = "OK ( PASS:%3d )";
          break;
        case kStatusCanceled:
          fmt = "CANCEL ( PASS:%3d )";
          break;
        case kStatusCompleted:
          fmt = "COMPLETED ( PASS:%3d )";
          break;
        case kStatusErrorEnded:
          fmt = "NG ( PASS:%3d )";
          break;
        case kStatusAborted:
          fmt = "ABORT ( PASS:%3d )";
          break;
        default:
          break;
      }
      if (fmt != nullptr) std::snprintf(buf, size, fmt, static_cast<int>(pass));
      break;
    }
    case 2:
      if (TEST_INF.runtime == 0) {
        std::snprintf(buf, size, "ENDLESS");
      } else if (TEST_INF.runtime == kRuntimeOneRound) {
        std::snprintf(buf, size, "1 [ROUND]");
      } else {
        std::snprintf(buf, size, "%d [MINUTE]", static_cast<int>(TEST_INF.runtime / 60));
      }
      break;
    case 3: {
      char version[32];
      std::snprintf(version, sizeof version, "%s-%s", kModuleVersion, kModuleBuild);
      std::snprintf(buf, size, "%s ( VER. %s )", TEST_INF.module_name, version);
      break;
    }
    case 4: {
      struct Name {
        const char* prefix;
        const char* text;
      };
      static constexpr Name kNames[] = {
          {"cpu", "CPU Test"}, {"mem", "Memory Test"}, {"hdd", "HDD Test"}, {"tap", "Tape Test"}};
      for (const Name& n : kNames) {
        if (strncasecmp(TEST_INF.module_name, n.prefix, 3) == 0) {
          std::snprintf(buf, size, "%s", n.text);
          break;
        }
      }
      break;
    }
    default:
      break;
  }
  printfx(kPfDebugText, "strings : %s\n", buf);
  return buf;
}

int build_result_block(char* buf, uint32_t size, uint32_t status) {
  TextBuilder out(buf, size);
  char start[kDateSize];
  char end[kDateSize];
  format_result_date(TEST_INF.test_start_time, start, sizeof start);
  format_result_date(platform().time_now(), end, sizeof end);
  char header[kHeaderSize];

  out.line("%s                 Start:%s\n", title_word(), start);
  out.line("                                                  End  :%s\n", end);
  out.line("\n");
  out.line("PROGRAM : %s\n", create_msg_header(3, header, sizeof header, status));
  out.line("TITLE   : %s\n", create_msg_header(4, header, sizeof header, status));
  out.line("DEVICE  : %s\n", TEST_INF.device_name);
  out.line("OPTION  : LEVEL %d\n", static_cast<int>(TEST_INF.test_level));
  out.line("          TIME  %s\n", create_msg_header(2, header, sizeof header, status));
  out.line("RESULT  : %s\n", create_msg_header(1, header, sizeof header, status));
  out.line("\n");
  out.line("%s", kDashes61);
  if (Ex_pmem_FIND.load() == 1) {
    out.line(" PMEM Total Execution Bytes : 0x%llx\n",
             static_cast<unsigned long long>(Ex_dwlDebug_MSize.load()));
  }
  out.line("%s", kDashes61);
  out.line("%s", kEquals78);
  return static_cast<int>(out.length());
}

// The lines both lists open with, up to the RESULT line; `word` is "Error"
// or "Abort" and `status` the status whose result word is shown.
void list_head(TextBuilder& out, const char* word, uint32_t status, const char* start) {
  char header[kHeaderSize];
  out.line("%s                 Start:%s\n", title_word(), start);
  out.line("                                                  %s:%s\n", word, TEST_INF.err.edate);
  out.line(" PROGRAM : %s\n", create_msg_header(3, header, sizeof header, status));
  out.line(" TITLE   : %s\n", list_title());
  out.line(" DEVICE  : %s\n", list_device());
  out.line(" OPTION  : LEVEL %d\n", static_cast<int>(TEST_INF.test_level));
  out.line("           TIME  %s\n", create_msg_header(2, header, sizeof header, status));
  out.line(" RESULT  : %s\n", create_msg_header(1, header, sizeof header, status));
}

intptr_t put_error_list(int level) {
  const intptr_t block = take_list_buffer();
  if (!buffer_ok(block)) return block;
  char* buf = reinterpret_cast<char*>(block);
  TextBuilder out(buf, kListSize);
  ErrorRecord& e = TEST_INF.err;
  if ((e.eset_flags & kEsetDate) == 0) eset_date();

  char start[kDateSize];
  format_result_date(TEST_INF.test_start_time, start, sizeof start);
  char header[kHeaderSize];

  list_head(out, "Error", 4, start);
  if ((e.eset_flags & kEsetTitle) != 0) out.line(" ERROR   : %s\n", e.etitle);
  out.line(" \n");
  action_block(out);
  out.line("%s", kDashes61);
  free_lines(out, e.freemsg);
  out.line(" \n");
  free_lines(out, e.freemsg_p);
  if ((e.eset_flags & kEsetSyscall) != 0) {
    char err[128];
    out.line("system call error\n");
    out.line("    Function : %s\n", e.syscall_name);
    out.line("    errno    : %d ( %s )\n", e.syscall_errno,
             sys_error_text(e.syscall_errno, err, sizeof err));
  }
  out.line("%s", kDashes61);
  out.line("%s", kEquals78);

  if (TEST_INF.test_mode.load() == kModePatrol) {
    printfx(kPfFormat | kPfLogRecord2, "[[[[ PATROL DIAGNOSIS RESULT ]]]] Start:%s, Error:%s\n",
            start, e.edate);
    printfx(kPfFormat | kPfLogRecord2, " PROGRAM : %s\n",
            create_msg_header(3, header, sizeof header, 4));
    printfx(kPfFormat | kPfLogRecord2, " DEVICE  : %s\n", list_device());
    printfx(kPfFormat | kPfLogRecord2, " ERROR   : %s\n", e.etitle);
  }
  const uint32_t extra = (level & 1) != 0 ? 0x4 : 0;
  claim_final_status();
  transmit_status(kStatusErrorEnded, extra | 0x2, 0, buf);
  return tp_area_ctl(kAreaFree, static_cast<uintptr_t>(block));
}

// Only the abort kind exists for the memory test; any kind writes the abort
// list, so the controller always receives a final status.
intptr_t put_skip_abort_list(uint32_t /*kind*/) {
  const intptr_t block = take_list_buffer();
  if (!buffer_ok(block)) return block;
  char* buf = reinterpret_cast<char*>(block);
  TextBuilder out(buf, kListSize);
  ErrorRecord& e = TEST_INF.err;
  if ((e.eset_flags & kEsetDate) == 0) eset_date();

  char start[kDateSize];
  format_result_date(TEST_INF.test_start_time, start, sizeof start);
  list_head(out, "Abort", 6, start);
  if ((e.eset_flags & kEsetTitle) != 0) out.line(" ABORT   : %s\n", e.etitle);
  action_block(out);
  free_lines(out, e.freemsg);
  out.line("%s", kDashes73);
  out.line(" \n");
  free_lines(out, e.freemsg_p);
  if ((e.eset_flags & kEsetSyscall) != 0) {
    out.line("system call error\n");
    out.line("    Function : %s\n", e.syscall_name);
    out.line("    errno    : %d\n", e.syscall_errno);
  }
  out.line("%s", kDashes73);
  out.line("%s", kEquals78);

  claim_final_status();
  transmit_status(kStatusAborted, 0x2, 0, buf);
  return tp_area_ctl(kAreaFree, static_cast<uintptr_t>(block));
}

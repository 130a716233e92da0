// printfx, the one logging call, and the log file families with rotation.
#include "common/logfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "common/msgtbl.h"
#include "common/platform.h"
#include "common/test_inf.h"
#include "common/transmit.h"

namespace {

constexpr size_t kTextBuf = 511;  // at most 510 characters of formatted text
constexpr size_t kMaxLogText = 112;
constexpr size_t kStampSize = 30;
constexpr size_t kLogNameSize = 511;

// Appends and rotations of the two threads that log are serialised, so a
// rotation never loses or splits an entry written at the same moment.
std::mutex g_log_mu;

char class_digit(char letter, char mode_first) {
  switch (std::toupper(static_cast<unsigned char>(letter))) {
    case 'E':
      return '3';
    case 'I':
      return '0';
    case 'W':
      return '2';
    default:
      return mode_first;
  }
}

// Opens a log file to write without ever following a symbolic link at its
// name, and keeps it only when it is a regular file with no other name: the
// log directory may be shared, and a link or a hard link planted there must
// not make a root run append to, truncate or create a file elsewhere. New
// files get mode 0640 (logs hold addresses and device names); O_NONBLOCK keeps
// a planted FIFO from stopping the run at the open. A refused file is treated
// like one that cannot be opened: the entry is dropped and the run goes on.
FILE* open_log(const char* path, bool truncate) {
  const int fd =
      ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0640);
  if (fd < 0) return nullptr;
  struct stat64 st {};
  FILE* f = nullptr;
  if (fstat64(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink == 1 &&
      (!truncate || ftruncate64(fd, 0) == 0)) {
    f = fdopen(fd, "a");
  }
  if (f == nullptr) ::close(fd);
  return f;
}

void write_entry(const char* path, bool truncate, const char* datetime, const char* msgno,
                 const char* text) {
  FILE* f = open_log(path, truncate);
  if (f == nullptr) return;  // logging never fails the caller
  std::fprintf(f, "%s,%s,%s", datetime, msgno, text);
  std::fflush(f);
  std::fclose(f);
}

// strerror_r comes in a GNU and an XSI flavour; both are thread-safe.
[[maybe_unused]] const char* pick_error(char* result, char*) {
  return result;
}
[[maybe_unused]] const char* pick_error(int, char* buf) {
  return buf;
}

}  // namespace

const char* sys_error_text(int err, char* buf, unsigned size) {
  buf[0] = '\0';
  return pick_error(strerror_r(err, buf, size), buf);
}

char* snprintfx(char* buf, uint32_t size, const char* fmt, ...) {
  if (buf == nullptr || size == 0) return buf;
  std::memset(buf, 0, size);
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(buf, size - 1, fmt, ap);
  va_end(ap);
  return buf;
}

int create_date_times(char* buf, uint32_t size) {
  if (buf == nullptr || size == 0) return 0;
  timeval tv{};
  platform().stamp_time(&tv);
  time_t now = tv.tv_sec;
  tm lt{};
  localtime_r(&now, &lt);
  int usec = static_cast<int>(tv.tv_usec);
  std::snprintf(buf, size, "%02d/%02d/%02d %02d:%02d:%02d %03d.%03d", lt.tm_year - 100,
                lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec, usec / 1000,
                usec % 1000);
  return static_cast<int>(std::strlen(buf));
}

// The size of the name itself: a symbolic link is not followed, so its
// target is never examined (the open refuses the link anyway).
int64_t get_file_size(const char* path) {
  struct stat64 st {};
  if (path == nullptr || lstat64(path, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

int log_dir_error(const char* dir) {
  struct stat64 st {};
  if (dir == nullptr || dir[0] == '\0') return ENOENT;
  if (stat64(dir, &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  // The effective ids make the files; a read-only file system answers EROFS.
  return faccessat(AT_FDCWD, dir, W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

int output_logfile(const char* base, const char* datetime, const char* msgno, const char* text) {
  if (base == nullptr || base[0] == '\0') return 0;
  if (datetime == nullptr) datetime = "";
  if (msgno == nullptr) msgno = "";
  if (text == nullptr) text = "";
  const int64_t entry =
      static_cast<int64_t>(std::strlen(datetime) + std::strlen(msgno) + std::strlen(text) + 2);

  // All names of a family are built the same way, without a shorter cut for
  // the current file: a cut name would make appends and rotations work on
  // different files.
  char current[kLogNameSize];
  std::snprintf(current, sizeof current, "%s_log.0", base);

  std::lock_guard<std::mutex> lock(g_log_mu);
  const int64_t size = get_file_size(current);
  if (size >= 0 && size + entry <= static_cast<int64_t>(TEST_INF.log_size_limit)) {
    write_entry(current, false, datetime, msgno, text);
    return 0;
  }

  transmit_process(1);
  // A family keeps at least its current file, even before the options set
  // the number of generations.
  const int n = TEST_INF.log_generations > 0 ? static_cast<int>(TEST_INF.log_generations) : 1;
  for (int i = n - 1; i >= 0; --i) {
    char from[kLogNameSize];
    std::snprintf(from, sizeof from, "%s_log.%d", base, i);
    if (i == n - 1) {
      std::remove(from);
    } else {
      char to[kLogNameSize];
      std::snprintf(to, sizeof to, "%s_log.%d", base, i + 1);
      std::rename(from, to);
    }
  }
  write_entry(current, true, datetime, msgno, text);
  transmit_process(2);
  return 0;
}

int printfx(uint32_t flags, const char* fmt_or_msgno, ...) {
  if (TEST_INF.debug_enabled == 0) flags &= ~kPfDebugLog;
  if ((flags & (kPfLogRecord1 | kPfLogRecord2 | kPfTraceLog | kPfDebugLog)) == 0) return 0;
  if (fmt_or_msgno == nullptr) return -1;

  const uint32_t kind = flags & (kPfFormat | kPfMsgNo);
  const char* fmt = nullptr;
  char number[6] = "00000";
  if (kind == kPfFormat) {
    fmt = fmt_or_msgno;
  } else if (kind == kPfMsgNo) {
    fmt = cv_msgno2fmt(fmt_or_msgno);
    if (fmt == nullptr) return -1;
    std::memcpy(number, fmt_or_msgno, 5);
  } else {
    return -1;
  }

  char text[kTextBuf + 1] = {};
  va_list ap;
  va_start(ap, fmt_or_msgno);
  int n = std::vsnprintf(text, kTextBuf, fmt, ap);
  va_end(ap);
  if (n < 0 || std::strlen(text) > kMaxLogText) return -1;

  if (kind == kPfMsgNo) {
    std::strcat(text, "\n");
    const bool patrol = TEST_INF.test_mode.load() == kModePatrol;
    const char* mode_code = patrol ? "08" : "03";
    number[1] = class_digit(number[0], mode_code[0]);
    number[2] = mode_code[1];
  }

  char stamp[kStampSize];
  create_date_times(stamp, sizeof stamp);

  if ((flags & kPfTraceLog) != 0 && TEST_INF.trace_log_base[0] != '\0') {
    output_logfile(TEST_INF.trace_log_base, stamp, number, text);
  }
  if ((flags & kPfDebugLog) != 0 && TEST_INF.debug_log_base[0] != '\0') {
    output_logfile(TEST_INF.debug_log_base, stamp, number, text);
  }
  if ((flags & kPfLogRecord1) != 0) transmit_log(1, number, stamp, text);
  if ((flags & kPfLogRecord2) != 0) transmit_log(2, number, stamp, text);
  return 0;
}

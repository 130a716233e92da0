// The output line protocol: every record is built whole in memory and goes
// out with one locked write, so records of the test thread, the progress
// thread and the cancel thread never mix.
#include "common/transmit.h"

#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/logfile.h"
#include "common/platform.h"
#include "common/result_list.h"
#include "common/test_inf.h"

namespace {

std::mutex g_output_mu;

void write_record(const char* data, size_t len, bool running);

// Largest record: a result list (33024 bytes) with its header and fields.
constexpr size_t kRecordCapacity = 34 * 1024;
// "ONLPTL," and the fixed-width length field with its comma.
constexpr size_t kPrefixLen = 18;
// "0x%02x,0x%02x,%-16s,%-16s,\n" with names of at most 16 characters.
constexpr size_t kHeaderLen = 45;
// The most lines a record can have: its header gives them in two hex digits.
constexpr uint32_t kMaxLines = 0xff;

// Builds one record in a fixed buffer, with no heap allocation, so that a
// record can still be sent when the heap is exhausted (the test may hold a
// large chunk). A text too long for the buffer is cut; the length field
// always counts the bytes that are sent.
class RecordBuilder {
 public:
  RecordBuilder(uint32_t type, uint32_t lines) {
    append("0x%02x,0x%02x,%-16s,%-16s,\n", type, lines, TEST_INF.module_name, TEST_INF.device_name);
  }

  void append(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap;
    va_start(ap, fmt);
    const int n = std::vsnprintf(data_ + len_, room(), fmt, ap);
    va_end(ap);
    if (n > 0) len_ += std::min(static_cast<size_t>(n), room() - 1);
  }

  void append_text(const char* text, size_t max) {
    const size_t n = strnlen(text, std::min(max, room() - 1));
    std::memcpy(data_ + len_, text, n);
    len_ += n;
  }

  // A running record is dropped once a final status has gone out.
  void send(bool running = false) {
    // Only a text cut at the capacity can lack the final newline.
    if (data_[len_ - 1] != '\n') data_[len_++] = '\n';
    char prefix[kPrefixLen + 1];
    std::snprintf(prefix, sizeof prefix, "ONLPTL,0x%08x,",
                  static_cast<uint32_t>(len_ - kPrefixLen));
    std::memcpy(data_, prefix, kPrefixLen);
    write_record(data_, len_, running);
  }

 private:
  // Bytes left for text, keeping one for the final newline.
  size_t room() const { return kRecordCapacity - 1 - len_; }

  char data_[kRecordCapacity];
  size_t len_ = kPrefixLen;
};

// Result block of a status record without text: large enough for all lines.
constexpr uint32_t kResultBlockSize = 2048;

}  // namespace

void output_record(const char* data, size_t len) {
  write_record(data, len, false);
}

namespace {

// Once a status record is on its way, the run is over for the controlling
// process: a running progress record of the progress thread, which may still
// be ticking until the test thread has stopped it, must not follow it. The
// flag is set and tested under the output lock, so a running record either
// goes out before the status or not at all.
void write_record(const char* data, size_t len, bool running) {
  std::lock_guard<std::mutex> lock(g_output_mu);
  if (running && TEST_INF.final_status_sent.load() != 0) return;
  platform().write_record(data, len);
}

void mark_final_status() {
  std::lock_guard<std::mutex> lock(g_output_mu);
  TEST_INF.final_status_sent.store(1);
}

}  // namespace

namespace {

// Copies a name for the record headers, where it stands between commas on
// one line: a comma, a control character or a byte outside ASCII (the
// program name can hold any of them) becomes '_', so the header keeps its
// shape whatever name the program was started under.
void copy_header_name(char* dst, size_t size, const char* src) {
  std::memset(dst, 0, size);
  const size_t n = strnlen(src, size - 1);
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(src[i]);
    dst[i] = c < 0x20 || c > 0x7e || c == ',' ? '_' : static_cast<char>(c);
  }
}

}  // namespace

int transmit_setup(const char* module, const char* device) {
  if (module == nullptr || device == nullptr || module[0] == '\0' || device[0] == '\0') return -1;
  copy_header_name(TEST_INF.module_name, sizeof TEST_INF.module_name, module);
  copy_header_name(TEST_INF.device_name, sizeof TEST_INF.device_name, device);
  return 0;
}

int transmit_log(uint32_t kind, const char* msgno, const char* datetime, const char* text) {
  constexpr size_t kMaxText = 256;
  char clean[kMaxText + 1];
  size_t n = 0;
  if (text != nullptr) {
    for (const char* p = text; *p != '\0' && n < kMaxText; ++p) {
      // Control characters and every byte from 0x80 up would break the line.
      if (static_cast<signed char>(*p) <= 31) continue;
      clean[n++] = *p;
    }
  }
  clean[n] = '\0';
  RecordBuilder rec(kRecLog, 1);
  rec.append("0x%02x,%-5s,%s,%s\n", kind, msgno ? msgno : "", datetime ? datetime : "", clean);
  rec.send();
  return 0;
}

int transmit_progress(uint32_t elapsed, uint32_t second, uint32_t percent, uint32_t state,
                      const char* text) {
  if (TEST_INF.test_mode.load() == kModePatrol) return 0;
  TEST_INF.last_elapsed.store(elapsed);
  TEST_INF.last_remaining.store(second);
  TEST_INF.last_percent.store(percent);
  RecordBuilder rec(kRecProgress, 1);
  rec.append("0x%08x,0x%08x,0x%02x,0x%02x,%s\n", elapsed, second, percent, state, text ? text : "");
  rec.send(state == 1);
  return 0;
}

int transmit_process(uint32_t code) {
  RecordBuilder rec(kRecProcess, 1);
  rec.append("0x%08x\n", code);
  rec.send();
  return 0;
}

int transmit_status(uint32_t status, uint32_t flags, uint32_t value, const char* text) {
  mark_final_status();
  if (const FinalStatusInfo* info = find_final_status(status)) {
    char progress_text[80];
    std::snprintf(progress_text, sizeof progress_text, "I0399:<<%s %s>>", TEST_INF.module_name,
                  info->name);
    transmit_progress(TEST_INF.last_elapsed.load(), TEST_INF.last_remaining.load(),
                      TEST_INF.last_percent.load(), info->progress_state, progress_text);
  }

  char block[kResultBlockSize];
  const char* status_text = " ";
  if (text != nullptr) {
    status_text = text;
  } else if (status >= kStatusNoError && status <= kStatusCompleted) {
    build_result_block(block, sizeof block, status);
    flags |= 0x2;
    status_text = block;
  }
  // A record holds a text up to its capacity and 255 lines (the header has
  // two hex digits for the count). A longer text, which none of the
  // program's lists comes near, is cut, so that the line count always
  // matches what is sent.
  char fields[40];
  const int n = std::snprintf(fields, sizeof fields, "0x%02x,0x%02x,0x%08x,", status, flags, value);
  size_t len = strnlen(status_text, kRecordCapacity - kPrefixLen - kHeaderLen - n - 2);
  uint32_t lines = 1;
  for (size_t i = 0; i < len && lines < kMaxLines; ++i) {
    if (status_text[i] == '\n' && ++lines == kMaxLines) len = i + 1;
  }

  RecordBuilder rec(kRecStatus, lines);
  rec.append("%s", fields);
  rec.append_text(status_text, len);
  rec.append("\n");
  rec.send();

  if (TEST_INF.trace_log_base[0] != '\0') {
    char stamp[30];
    create_date_times(stamp, sizeof stamp);
    output_logfile(TEST_INF.trace_log_base, stamp, "RESULT\n", status_text);
  }
  return 0;
}

void transmit_module_vl(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcasecmp(argv[i], "-vl") != 0) continue;
    char version[21];
    std::snprintf(version, sizeof version, "%s-%s", kModuleVersion, kModuleBuild);
    RecordBuilder rec(kRecVersion, 1);
    rec.append("%-20s\n", version);
    rec.send();
    // The record went out with write(), so nothing is left in stdio buffers
    // of ours; _exit skips static destructors, which could otherwise race
    // with a thread still running.
    std::fflush(nullptr);
    _exit(0);
  }
}

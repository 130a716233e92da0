// memtest-view: the record stream of memtest shown to a person (a live
// progress line on a terminal, plain lines elsewhere) or to a script (one
// JSON object per record).
#pragma once

#include <cstdint>
#include <string>

#include "common/record_reader.h"
#include "view/view_report.h"

enum ViewMode { kViewTerminal, kViewPlain, kViewJson };

// Exit status of memtest-view when the record stream cannot be read (bad
// length field, cut record, garbage between records). memtest never ends
// with it.
inline constexpr int kExitBadStream = 3;
// Exit status for a command line memtest-view does not understand.
inline constexpr int kExitUsage = 64;

struct ViewState {
  ViewMode mode = kViewPlain;
  int width = 80;            // terminal columns (the live line stays shorter)
  bool live_shown = false;   // the live progress line is on the screen
  std::string live;          // its text
  uint64_t records = 0;      // records read so far
  bool have_status = false;  // a status record came
  StatusFields status;       // the last status record
  bool have_version = false;
  uint32_t elapsed = 0;     // elapsed seconds of the last progress record
  uint64_t stream_end = 0;  // stream offset behind the last record
  ViewReport report;        // memtest's run report, when one was read
};

struct Verdict {
  std::string result;   // "No Error", ..., or what went wrong
  int exit_status = 0;  // what memtest-view ends with
  // No Error, or Completed (the end of a timed run), and a run report, when
  // there is one, that found nothing either: corrected errors or a memory
  // error it saw are no clean pass whatever memtest's status says.
  bool passed = false;
  std::string error;  // the stream error, "" when the stream was whole
};

// The name of a final status code ("No Error", "Canceled", ...), "" when the
// code is not one memtest sends.
const char* status_name(uint32_t status);

// Output for one record, appended to *out. Returns "" or, for a record whose
// body does not have the fields of its type, what is wrong with it.
std::string view_record(ViewState* v, const ProtocolRecord& r, std::string* out);
// The verdict: from the last status record when memtest's own exit status is
// not known (exit_status < 0: the stream came through a pipe), else memtest's.
// error is the stream error or "". Sets *verdict and appends its output: the
// failing cells of the run report, then the verdict line, which shows the
// report's summary when there is a report.
void view_finish(ViewState* v, const std::string& error, int exit_status, Verdict* verdict,
                 std::string* out);
// s without the blanks that pad it on the right.
std::string trimmed(const std::string& s);
// The live progress line for a progress record (terminal and plain mode).
std::string progress_line(const ProgressFields& p, int width);

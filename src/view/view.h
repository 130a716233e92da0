// memtest-view: the record stream of memtest shown to a person (a live
// progress line on a terminal, plain lines elsewhere) or to a script (one
// JSON object per record).
#pragma once

#include <cstdint>
#include <string>

#include "common/record_reader.h"
#include "view/view_report.h"

enum ViewMode { kViewTerminal, kViewPlain, kViewJson };

// memtest-view's exit statuses, the conventional ones an operator's shell
// and scripts test (0 for a pass). memtest's own (1 for No Error, 0 for a
// memory error) stay the contract of its controlling process.
inline constexpr int kExitPassed = 0;
// A memory error, or a run report that is no pass (corrected errors).
inline constexpr int kExitFault = 1;
inline constexpr int kExitCancelled = 2;
// The record stream cannot be read (bad length field, cut record, garbage
// between records, an unknown final status, none at all).
inline constexpr int kExitBadStream = 3;
// The test could not run: Aborted (parameters, start-up, a device that
// would not open).
inline constexpr int kExitNotRun = 4;
inline constexpr int kExitUsage = 64;         // a command line it does not understand
inline constexpr int kExitCannotStart = 127;  // memtest could not be started
inline constexpr int kExitSignalBase = 128;   // plus the signal that killed memtest

// How memtest ended, as far as memtest-view knows it.
struct MemtestEnd {
  bool ran_here = false;    // memtest-view started it; else the stream came through a pipe
  std::string start_error;  // why it could not be started; "" when it ran
  int exit_status = -1;     // its exit status; -1 when it was killed
  int signal = 0;           // the signal that killed it, 0 for none
};

struct ViewState {
  ViewMode mode = kViewPlain;
  int width = 80;              // terminal columns (the live line stays shorter)
  bool all_records = false;    // --json: every log rotation record too
  bool live_shown = false;     // the live progress line is on the screen
  std::string live;            // its text
  uint64_t records = 0;        // records read so far
  bool have_status = false;    // a status record came
  StatusFields status;         // the last status record
  uint64_t status_offset = 0;  // where it starts in the stream
  bool have_version = false;
  uint32_t elapsed = 0;     // elapsed seconds of the last progress record
  uint64_t stream_end = 0;  // stream offset behind the last record
  // Log rotation records (process records) that --json sums up in the
  // verdict instead of writing: how many, and where the first and last are.
  uint64_t rotations = 0;
  uint64_t first_rotation = 0;
  uint64_t last_rotation = 0;
  ViewReport report;  // memtest's run report, when one was read
};

struct Verdict {
  std::string result;   // "No Error", ..., or what went wrong
  int exit_status = 0;  // what memtest-view ends with (kExitPassed, ...)
  // memtest's exit status: its own when it ran here, else the one its final
  // status implies; -1 when neither is known (killed, an abort read from a
  // pipe, no final status).
  int memtest_exit = -1;
  int signal = 0;  // the signal that killed memtest
  // No Error, or Completed (the end of a timed run), and a run report, when
  // there is one, that found nothing either: corrected errors or a memory
  // error it saw are no clean pass whatever memtest's status says.
  bool passed = false;
  std::string error;  // what went wrong with the stream or the start, "" when nothing
};

// The name of a final status code ("No Error", "Canceled", ...), "" when the
// code is not one memtest sends.
const char* status_name(uint32_t status);

// Output for one record, appended to *out. Returns "" or, for a record whose
// body does not have the fields of its type, what is wrong with it.
std::string view_record(ViewState* v, const ProtocolRecord& r, std::string* out);
// The verdict: from the last status record and the run report, and how
// memtest ended. error is the stream error or "". Sets *verdict and appends
// its output: the failing cells of the run report, then the verdict line,
// which shows the report's summary when there is a report.
void view_finish(ViewState* v, const std::string& error, const MemtestEnd& end, Verdict* verdict,
                 std::string* out);
// s without the blanks that pad it on the right.
std::string trimmed(const std::string& s);
// The live progress line for a progress record (terminal and plain mode).
std::string progress_line(const ProgressFields& p, int width);
// A date of memtest's, local time of its host as a log record stamps it
// ("26/12/07 14:31:08 950.197") or a result text shows it ("2026/12/07
// 14:31:08"), in ISO 8601 with the zone of this host
// ("2026-12-07T14:31:08.950197+00:00"); "" when it is no such date.
std::string iso_date(const std::string& date);
// text with every result-text date in it shown as iso_date shows it.
std::string with_iso_dates(const std::string& text);

// How records look on a terminal and in plain text, and the verdict.
#include "view/view.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

#include "common/transmit.h"
#include "state/final_status.h"
#include "view/view_json.h"

namespace {

// The final statuses memtest sends, with their names and exit statuses.
using StatusInfo = FinalStatusInfo;

const StatusInfo* find_status(uint32_t status) {
  return find_final_status(status);
}

std::string clock_text(uint32_t seconds) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%u:%02u:%02u", seconds / 3600, seconds / 60 % 60, seconds % 60);
  return buf;
}

// A running record's remaining seconds are no estimate before the first
// second is measured: main's start record carries 0, and the first record of
// a run without RUNTIME the whole nominal round (70 s at level 1, 600 s at
// level 2) however small the run. Elapsed seconds are whole seconds of the
// wall clock, so a run shorter than one may still show 1. A final record
// repeats the last numbers; nothing is left once the run has ended.
std::string left_text(const ProgressFields& p) {
  if (p.state != 1) return clock_text(0);
  if (p.percent == 0 && p.elapsed < 2) return "-:--:--";
  return clock_text(p.second);
}

// text has the form of pattern, where 'd' stands for a digit.
bool shaped(const std::string& text, size_t at, const char* pattern) {
  for (size_t i = 0; pattern[i] != '\0'; ++i) {
    if (at + i >= text.size()) return false;
    const char c = text[at + i];
    if (pattern[i] == 'd' ? c < '0' || c > '9' : c != pattern[i]) return false;
  }
  return true;
}

int digits(const std::string& text, size_t at, size_t n) {
  int v = 0;
  for (size_t i = 0; i < n; ++i) v = v * 10 + (text[at + i] - '0');
  return v;
}

constexpr char kListDate[] = "dddd/dd/dd dd:dd:dd";
constexpr char kLogStamp[] = "dd/dd/dd dd:dd:dd ddd.ddd";

// "I0399:<<MSCAN1 w/r Pass=0>>" shows as "MSCAN1 w/r Pass=0".
std::string step_text(const std::string& text) {
  const size_t open = text.find(":<<");
  if (open == 5 && text.size() >= 10 && text.compare(text.size() - 2, 2, ">>") == 0) {
    return text.substr(8, text.size() - 10);
  }
  return text;
}

// Texts from the stream reach the terminal without control characters, so
// that a damaged or foreign stream cannot move the cursor or change the
// terminal's settings. The C1 controls count too: a terminal with an 8-bit
// character set takes the bytes 0x80 to 0x9f as such (0x9b is CSI), one in
// UTF-8 their two-byte forms (c2 80 to c2 9f). memtest's own texts are ASCII,
// so the bytes are replaced whatever character set the terminal uses.
std::string printable(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const auto u = static_cast<unsigned char>(text[i]);
    const auto next = static_cast<unsigned char>(i + 1 < text.size() ? text[i + 1] : 0);
    bool control = u < 0x20 && u != '\n';
    control = control || u == 0x7f;
    control = control || (u >= 0x80 && u < 0xa0);
    if (u == 0xc2 && next >= 0x80 && next < 0xa0) {
      ++i;  // U+0080 to U+009F in UTF-8: one character, one '?'
      control = true;
    }
    out += control ? '?' : text[i];
  }
  return out;
}

void clear_live(ViewState* v, std::string* out) {
  if (v->mode == kViewTerminal && v->live_shown) *out += "\r\x1b[K";
  v->live_shown = false;
}

// A whole line above the live line, which is drawn again below it.
void emit_line(ViewState* v, const std::string& line, std::string* out) {
  clear_live(v, out);
  *out += printable(line);
  if (line.empty() || line.back() != '\n') *out += '\n';
  if (v->mode == kViewTerminal && !v->live.empty()) {
    *out += v->live;
    v->live_shown = true;
  }
}

}  // namespace

std::string trimmed(const std::string& s) {
  const size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? "" : s.substr(0, end + 1);
}

const char* status_name(uint32_t status) {
  const StatusInfo* s = find_status(status);
  return s != nullptr ? s->name : "";
}

std::string progress_line(const ProgressFields& p, int width) {
  constexpr uint32_t kCells = 16;
  const uint32_t filled = std::min<uint32_t>(p.percent, 100) * kCells / 100;
  const std::string bar = std::string(filled, '#') + std::string(kCells - filled, '-');
  char buf[128];
  std::snprintf(buf, sizeof buf, "[%s] %3u%% %s elapsed %s left  ", bar.c_str(), p.percent,
                clock_text(p.elapsed).c_str(), left_text(p).c_str());
  std::string line = buf + printable(step_text(p.text));
  // A line as wide as the terminal would wrap, and the redraw would then
  // leave its first part behind.
  if (width > 1 && line.size() >= static_cast<size_t>(width)) line.resize(width - 1);
  return line;
}

std::string iso_date(const std::string& date) {
  const bool stamp = date.size() == sizeof kLogStamp - 1 && shaped(date, 0, kLogStamp);
  if (!stamp && !(date.size() == sizeof kListDate - 1 && shaped(date, 0, kListDate))) return "";
  const size_t year = stamp ? 2 : 4;  // a stamp's year is the one after 2000
  tm t{};
  t.tm_year = digits(date, 0, year) + (stamp ? 2000 : 0) - 1900;
  t.tm_mon = digits(date, year + 1, 2) - 1;
  t.tm_mday = digits(date, year + 4, 2);
  t.tm_hour = digits(date, year + 7, 2);
  t.tm_min = digits(date, year + 10, 2);
  t.tm_sec = digits(date, year + 13, 2);
  t.tm_isdst = -1;
  tm local = t;
  // A date mktime has to move (month 13, an hour a clock change skips) is
  // shown as memtest wrote it.
  if (mktime(&local) == static_cast<time_t>(-1) || local.tm_mon != t.tm_mon ||
      local.tm_mday != t.tm_mday || local.tm_hour != t.tm_hour || local.tm_min != t.tm_min) {
    return "";
  }
  const long zone = local.tm_gmtoff / 60;
  const long minutes = zone < 0 ? -zone : zone;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d%s%s%c%02ld:%02ld", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, stamp ? "." : "",
                stamp ? (date.substr(18, 3) + date.substr(22, 3)).c_str() : "",
                zone < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return buf;
}

std::string with_iso_dates(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const std::string iso =
        shaped(text, i, kListDate) ? iso_date(text.substr(i, sizeof kListDate - 1)) : "";
    if (iso.empty()) {
      out += text[i];
    } else {
      out += iso;
      i += sizeof kListDate - 2;
    }
  }
  return out;
}

std::string view_record(ViewState* v, const ProtocolRecord& r, std::string* out) {
  ++v->records;
  v->stream_end = r.offset + r.raw.size();
  ProgressFields p;
  StatusFields s;
  LogFields l;
  switch (r.type) {
    case kRecProgress:
      if (!parse_progress(r, &p)) break;
      v->elapsed = p.elapsed;
      if (v->mode != kViewTerminal) {
        // Plain lines: a record that changes nothing shown is left out (main
        // repeats the last numbers in the final progress record).
        const std::string line = progress_line(p, 0);
        if (line != v->live) emit_line(v, line, out);
        v->live = line;
      } else if (p.state == 1) {
        v->live = "\r" + progress_line(p, v->width) + "\x1b[K";
        *out += v->live;
        v->live_shown = true;
      } else {
        // The final progress record stays on the screen as the last line.
        v->live.clear();
        clear_live(v, out);
        *out += progress_line(p, v->width) + "\n";
      }
      return "";
    case kRecStatus:
      if (!parse_status(r, &s)) break;
      v->have_status = true;
      v->status = s;
      v->status_offset = r.offset;
      v->live.clear();
      clear_live(v, out);
      if (!trimmed(s.text).empty()) emit_line(v, with_iso_dates(s.text), out);
      return "";
    case kRecLog: {
      if (!parse_log(r, &l)) break;
      const std::string iso = iso_date(l.datetime);
      emit_line(
          v, "log  " + (iso.empty() ? l.datetime : iso) + "  " + trimmed(l.msgno) + "  " + l.text,
          out);
      return "";
    }
    case kRecVersion:
      v->have_version = true;
      emit_line(v, trimmed(r.module) + " version " + trimmed(r.body.substr(0, r.body.size() - 1)),
                out);
      return "";
    case kRecProcess:
      if (uint32_t code = 0; !parse_process(r, &code)) break;
      // Log rotation: nothing for the operator, with or without
      // --all-records.
      return "";
    default:
      char type[8];
      std::snprintf(type, sizeof type, "0x%02x", r.type);
      emit_line(v, std::string("record of type ") + type + ": " + r.body, out);
      return "";
  }
  return "record body without the fields of its type at byte " + std::to_string(r.offset);
}

void view_finish(ViewState* v, const std::string& error, const MemtestEnd& end, Verdict* verdict,
                 std::string* out) {
  Verdict d;
  const StatusInfo* s = v->have_status ? find_status(v->status.status) : nullptr;
  const ViewReport& report = v->report;
  d.result = s != nullptr ? s->name : "no final status";
  d.memtest_exit = end.ran_here ? end.exit_status : s != nullptr ? s->exit_status : -1;
  d.signal = end.signal;
  d.error = error;
  if (!end.start_error.empty()) {
    d.result = "cannot start memtest";
    d.error = end.start_error;
    d.exit_status = kExitCannotStart;
  } else if (end.signal != 0) {
    // A stream cut short is what the kill left; the kill is the news.
    d.result = "memtest killed by signal " + std::to_string(end.signal);
    d.exit_status = kExitSignalBase + end.signal;
  } else if (!error.empty()) {
    d.result = "unreadable record stream";
    d.exit_status = kExitBadStream;
  } else if (v->have_status && s == nullptr) {
    d.result = "unknown final status " + std::to_string(v->status.status);
    d.error = d.result + " at byte " + std::to_string(v->status_offset);
    d.exit_status = kExitBadStream;
  } else if (s == nullptr && v->have_version) {
    // memtest -vl sends the version record alone and ends with 0.
    d.result = "version only, no test";
    d.exit_status = kExitPassed;
  } else if (s == nullptr) {
    d.error = "stream ended without a final status record at byte " + std::to_string(v->stream_end);
    d.exit_status = kExitBadStream;
  } else if (end.ran_here && s->passed && end.exit_status != 1) {
    // A pass needs both: a status and an exit that disagree are no record
    // of memtest's to trust.
    d.error =
        "memtest ended with exit status " + std::to_string(end.exit_status) + " after " + s->name;
    d.exit_status = kExitBadStream;
  } else {
    d.exit_status = s->passed                             ? kExitPassed
                    : v->status.status == kStatusCanceled ? kExitCancelled
                    : v->status.status == kStatusAborted  ? kExitNotRun
                                                          : kExitFault;
    // The report sees what the stream does not (corrected errors, a
    // machine check): a fault it found is the verdict whatever the status.
    const bool found = report.verdict == "memory-error" || report.verdict == "corrected-errors";
    if (report.present && report.verdict != "passed" && (found || s->passed))
      d.exit_status = kExitFault;
    d.passed = d.exit_status == kExitPassed;
  }
  *verdict = d;
  if (v->mode == kViewJson) {
    view_verdict_json(*v, d, out);
    return;
  }
  v->live.clear();
  for (const std::string& cell : report.cells) emit_line(v, cell, out);
  if (report.cells_not_listed > 0) {
    emit_line(v, "and " + std::to_string(report.cells_not_listed) + " failing cells not listed",
              out);
  }
  // The report's summary says what the run found, when the run ended as
  // memtest ends a run.
  const bool by_report = report.present && d.error.empty() && d.signal == 0 && s != nullptr;
  // memtest-view's exit status, then memtest's own where it is known.
  std::string memtest = "memtest: ";
  if (by_report) memtest += d.result + ", ";
  if (d.memtest_exit >= 0) {
    memtest += "exit status " + std::to_string(d.memtest_exit);
  } else if (s != nullptr && !end.ran_here) {
    memtest += "exit status not in the stream";  // an abort
  } else {
    memtest.clear();
  }
  const std::string statuses = " (exit status " + std::to_string(d.exit_status) +
                               (memtest.empty() ? "" : "; ") + memtest + ")";
  // The error itself goes to standard error.
  if (by_report) {
    emit_line(v, "verdict: " + report.summary + statuses, out);
  } else {
    const char* head = d.passed ? "passed, " : d.exit_status == kExitPassed ? "" : "failed, ";
    emit_line(v, "verdict: " + (head + d.result) + statuses, out);
  }
}

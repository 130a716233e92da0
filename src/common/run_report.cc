// The run report: gathered while the run goes on, written once at its end as
// one JSON object, one member a line.
//
// Texts go out as JSON strings: a quote and a backslash escaped, control
// characters (and DEL) as \u00XX, valid UTF-8 as it is. A byte that is not
// part of valid UTF-8 (a DIMM locator in some 8-bit character set, a text cut
// inside a character by its field) becomes the character of the same number,
// \u00XX, as if the text were Latin-1: no byte is lost and the file stays
// valid UTF-8.
#include "common/run_report.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "common/logfile.h"

namespace {

constexpr char kFormat[] = "memtest-run-report/1";
constexpr const char* kAlgorithmNames[] = {"MSCAN", "MARCH", "MASEST", "BMOVE", "IMOVE"};
constexpr int kTempTries = 100;
constexpr unsigned kReportMode = 0640;  // like the logs: addresses and DIMM names

RunReport g_report;

// Digits of v in base 10 or 16, at least width of them, at the end of buf.
const char* digits(uint64_t v, unsigned base, int width, char (&buf)[24]) {
  char* p = buf + sizeof buf - 1;
  *p = '\0';
  do {
    *--p = "0123456789abcdef"[v % base];
    v /= base;
    --width;
  } while (v != 0 || width > 0);
  return p;
}

// A text put together in a fixed buffer, cut at its end.
struct Text {
  char* buf;
  size_t cap;
  size_t n = 0;
};

void add(Text* t, const char* s, size_t max = SIZE_MAX) {
  for (size_t i = 0; i < max && s[i] != '\0' && t->n + 1 < t->cap; ++i) t->buf[t->n++] = s[i];
  t->buf[t->n] = '\0';
}

void add_number(Text* t, uint64_t v) {
  char buf[24];
  add(t, digits(v, 10, 1, buf));
}

void add_hex(Text* t, uint64_t v) {
  char buf[24];
  add(t, "0x");
  add(t, digits(v, 16, 1, buf));
}

// The EDAC counters that grew during the run, with the run's totals. A DIMM's
// errors are also in its controller's totals, so a controller counts once:
// its own total, or the sum of its DIMMs when that is larger (a controller
// whose total could not be read).
struct Growth {
  uint32_t n = 0;
  EdacGrowth counters[kEdacMaxCounters];
  uint64_t ce_total = 0;
  uint64_t ue_total = 0;
};

void gather_growth(const RunReport& r, Growth* g) {
  g->n = edac_growth(r.edac_start, r.edac_end, g->counters, kEdacMaxCounters);
  g->ce_total = 0;
  g->ue_total = 0;
  for (uint32_t i = 0; i < g->n; ++i) {
    const char* mc = g->counters[i].now.mc;
    bool seen = false;
    for (uint32_t j = 0; j < i; ++j)
      seen = seen || strncmp(g->counters[j].now.mc, mc, sizeof g->counters[j].now.mc) == 0;
    if (seen) continue;
    uint64_t ce_own = 0, ue_own = 0, ce_dimms = 0, ue_dimms = 0;
    for (uint32_t j = 0; j < g->n; ++j) {
      const EdacGrowth& c = g->counters[j];
      if (strncmp(c.now.mc, mc, sizeof c.now.mc) != 0) continue;
      const bool own = c.now.dimm[0] == '\0';
      (own ? ce_own : ce_dimms) += c.ce_delta;
      (own ? ue_own : ue_dimms) += c.ue_delta;
    }
    g->ce_total += ce_own > ce_dimms ? ce_own : ce_dimms;
    g->ue_total += ue_own > ue_dimms ? ue_own : ue_dimms;
  }
}

uint64_t delta(const EdacGrowth& c, bool ue) {
  return ue ? c.ue_delta : c.ce_delta;
}

// " on DIMM X" / " on DIMMs X, Y": the DIMMs whose count grew, the largest
// growth first, by label or else by controller and DIMM; the controllers when
// no DIMM grew (errors the driver could not put on a DIMM).
void add_places(Text* t, const Growth& g, bool ue) {
  constexpr uint32_t kNamed = 3;
  uint32_t order[kEdacMaxCounters];
  uint32_t n = 0;
  for (int totals = 0; totals < 2 && n == 0; ++totals) {
    for (uint32_t i = 0; i < g.n; ++i) {
      if (delta(g.counters[i], ue) == 0 || (g.counters[i].now.dimm[0] == '\0') != (totals == 1))
        continue;
      uint32_t k = n++;
      for (; k > 0 && delta(g.counters[order[k - 1]], ue) < delta(g.counters[i], ue); --k)
        order[k] = order[k - 1];
      order[k] = i;
    }
    if (n > 0)
      add(t, totals == 0 ? (n == 1 ? " on DIMM " : " on DIMMs ")
                         : (n == 1 ? " on controller " : " on controllers "));
  }
  for (uint32_t k = 0; k < n && k < kNamed; ++k) {
    const EdacCounter& c = g.counters[order[k]].now;
    if (k > 0) add(t, ", ");
    if (c.label[0] != '\0') {
      add(t, c.label, sizeof c.label);
    } else {
      add(t, c.mc, sizeof c.mc);
      if (c.dimm[0] != '\0') add(t, "/");
      add(t, c.dimm, sizeof c.dimm);
    }
  }
  if (n > kNamed) {
    add(t, " and ");
    add_number(t, n - kNamed);
    add(t, " more");
  }
}

void add_count(Text* t, uint64_t n, const char* what) {
  add_number(t, n);
  add(t, " ");
  add(t, what);
  if (n != 1) add(t, "s");
}

void verdict_of(const RunReport& r, const Growth& g, ReportVerdict* out) {
  Text t{out->summary, sizeof out->summary};
  const char* status = r.final_status != nullptr ? r.final_status : "";
  const uint32_t listed = r.cell_count < kReportMaxCells ? r.cell_count : kReportMaxCells;
  const uint64_t cells = uint64_t{listed} + r.cells_dropped;
  if (r.fault[0] != '\0' || strcmp(status, "Aborted") == 0) {
    out->verdict = "aborted";
    add(&t, "aborted: ");
    add(&t, r.fault[0] != '\0' ? r.fault : status, sizeof r.fault);
  } else if (strcmp(status, "Canceled") == 0) {
    out->verdict = "cancelled";
    add(&t, "cancelled");
  } else if (cells > 0 || strcmp(status, "Error Ended") == 0) {
    out->verdict = "memory-error";
    add(&t, "failed: ");
    if (cells == 0) add(&t, "Error Ended (no failing cell recorded)");
    if (cells > 0) add_count(&t, cells, "memory error");
    for (uint32_t i = 0; i < listed; ++i) {
      const FailingCell& c = r.cells[i];
      if (c.where.status != PhysStatus::kLocated) continue;
      add(&t, " at physical address ");
      add_hex(&t, c.where.phys);
      if (c.dimm[0] != '\0') {
        add(&t, " (DIMM ");
        add(&t, c.dimm, sizeof c.dimm);
        add(&t, ")");
      }
      break;
    }
  } else if (g.ue_total > 0) {
    out->verdict = "memory-error";
    add(&t, "failed: ");
    add_count(&t, g.ue_total, "uncorrected error");
    add_places(&t, g, true);
    add(&t, " during the run");
  } else if (g.ce_total > 0) {
    out->verdict = "corrected-errors";
    add(&t, "passed, but ");
    add_count(&t, g.ce_total, "corrected error");
    add_places(&t, g, false);
    add(&t, " during the run");
  } else {
    out->verdict = "passed";
    add(&t, "passed");
  }
}

// The file being written: a buffer in front of it, and the first error,
// after which nothing more is written.
struct Out {
  int fd = -1;
  int err = 0;
  size_t n = 0;
  char buf[4096];
};

void flush(Out* o) {
  for (size_t done = 0; o->err == 0 && done < o->n;) {
    const ssize_t w = ::write(o->fd, o->buf + done, o->n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      o->err = w < 0 ? errno : EIO;
    } else {
      done += static_cast<size_t>(w);
    }
  }
  o->n = 0;
}

// The JSON being written: how deep, whether the innermost object or array
// has a member yet, and whether its members stay on one line.
constexpr int kMaxDepth = 4;
struct Writer {
  Out out;
  int depth = 0;
  bool fresh = true;
  bool one_line[kMaxDepth + 1] = {};
};

void raw(Writer& w, const char* s, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (w.out.n == sizeof w.out.buf) flush(&w.out);
    w.out.buf[w.out.n++] = s[i];
  }
}

void raw(Writer& w, const char* s) {
  raw(w, s, strlen(s));
}

void next_member(Writer& w) {
  if (!w.fresh) raw(w, w.one_line[w.depth] ? ", " : ",");
  if (!w.one_line[w.depth]) {
    raw(w, "\n");
    for (int i = 0; i < w.depth; ++i) raw(w, "  ");
  }
  w.fresh = false;
}

void key(Writer& w, const char* name) {
  next_member(w);
  raw(w, "\"");
  raw(w, name);
  raw(w, "\": ");
}

void open(Writer& w, const char* bracket, bool one_line) {
  raw(w, bracket);
  ++w.depth;
  w.one_line[w.depth] = one_line;
  w.fresh = true;
}

void close(Writer& w, const char* bracket) {
  if (!w.fresh && !w.one_line[w.depth]) {
    raw(w, "\n");
    for (int i = 1; i < w.depth; ++i) raw(w, "  ");
  }
  --w.depth;
  raw(w, bracket);
  w.fresh = false;
}

// How many bytes from s[0] make one valid UTF-8 character (n bytes are
// there); 0 when they do not: a stray continuation byte, an overlong form, a
// surrogate, a code point past U+10FFFF, a sequence cut short.
size_t utf8_length(const unsigned char* s, size_t n) {
  size_t len;
  uint32_t cp;
  uint32_t min;
  if (s[0] < 0x80) return 1;
  if (s[0] >= 0xc0 && s[0] < 0xe0) {
    len = 2, cp = s[0] & 0x1fu, min = 0x80;
  } else if (s[0] >= 0xe0 && s[0] < 0xf0) {
    len = 3, cp = s[0] & 0x0fu, min = 0x800;
  } else if (s[0] >= 0xf0 && s[0] < 0xf8) {
    len = 4, cp = s[0] & 0x07u, min = 0x10000;
  } else {
    return 0;
  }
  if (n < len) return 0;
  for (size_t i = 1; i < len; ++i) {
    if ((s[i] & 0xc0) != 0x80) return 0;
    cp = cp << 6 | (s[i] & 0x3fu);
  }
  if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return 0;
  return len;
}

// A text of at most max bytes (a field need not hold its terminator).
void text(Writer& w, const char* s, size_t max = SIZE_MAX) {
  const size_t n = s != nullptr ? strnlen(s, max) : 0;
  const auto* u = reinterpret_cast<const unsigned char*>(s);
  raw(w, "\"");
  for (size_t i = 0; i < n;) {
    const size_t len = utf8_length(u + i, n - i);
    if (u[i] == '"' || u[i] == '\\') {
      const char escaped[2] = {'\\', s[i]};
      raw(w, escaped, 2);
    } else if (len == 0 || u[i] < 0x20 || u[i] == 0x7f) {
      char buf[24];
      raw(w, "\\u00");
      raw(w, digits(u[i], 16, 2, buf));
    } else {
      raw(w, s + i, len);
      i += len;
      continue;
    }
    ++i;
  }
  raw(w, "\"");
}

void text_or_null(Writer& w, const char* s, size_t max) {
  if (s[0] == '\0') {
    raw(w, "null");
  } else {
    text(w, s, max);
  }
}

void number(Writer& w, uint64_t v) {
  char buf[24];
  raw(w, digits(v, 10, 1, buf));
}

void hex(Writer& w, uint64_t v, int width) {
  char buf[24];
  raw(w, "\"0x");
  raw(w, digits(v, 16, width, buf));
  raw(w, "\"");
}

void hex_or_null(Writer& w, bool known, uint64_t v, int width) {
  if (known) {
    hex(w, v, width);
  } else {
    raw(w, "null");
  }
}

void number_or_null(Writer& w, bool known, uint64_t v) {
  if (known) {
    number(w, v);
  } else {
    raw(w, "null");
  }
}

void boolean(Writer& w, bool v) {
  raw(w, v ? "true" : "false");
}

// "2026-12-07T06:15:31Z"
void utc_time(Writer& w, time_t t) {
  tm u{};
  char buf[24];
  gmtime_r(&t, &u);
  raw(w, "\"");
  raw(w, digits(static_cast<uint64_t>(u.tm_year + 1900), 10, 4, buf));
  const int parts[] = {u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec};
  const char* seps = "--T::";
  for (int i = 0; i < 5; ++i) {
    raw(w, seps + i, 1);
    raw(w, digits(static_cast<uint64_t>(parts[i]), 10, 2, buf));
  }
  raw(w, "Z\"");
}

const char* offline_text(const FailingCell& c, char (&buf)[160]) {
  switch (c.offline) {
    case OfflineResult::kNotAsked:
      return "not-asked";
    case OfflineResult::kOfflined:
      return "offlined";
    case OfflineResult::kNotLocated:
      return "not-located";
    case OfflineResult::kFailed:
      break;
  }
  char reason[128];
  Text t{buf, sizeof buf};
  add(&t, "failed: ");
  add(&t, sys_error_text(c.offline_errno, reason, sizeof reason));
  return buf;
}

void write_cell(Writer& w, const FailingCell& c) {
  const bool located = c.where.status == PhysStatus::kLocated;
  const bool compare = c.kind == CellKind::kCompare;
  char buf[160];
  next_member(w);
  open(w, "{", false);
  key(w, "kind");
  text(w, compare ? "compare" : "machine-check");
  key(w, "algorithm");
  text_or_null(w, c.algorithm, sizeof c.algorithm);
  key(w, "ref_no");
  number(w, c.ref_no);
  key(w, "buffer");
  hex(w, c.buffer, 1);
  key(w, "offset");
  hex(w, c.offset, 1);
  key(w, "virtual_address");
  hex(w, c.vaddr, 1);
  key(w, "physical_address");
  hex_or_null(w, located, c.where.phys, 1);
  key(w, "page_frame");
  number_or_null(w, located, c.where.pfn);
  key(w, "location");
  text(w, phys_status_text(c.where.status));
  key(w, "poisoned");
  boolean(w, c.where.poisoned);
  key(w, "expected");
  hex_or_null(w, compare, c.expected, 16);
  key(w, "actual");
  hex_or_null(w, compare, c.actual, 16);
  key(w, "dimm");
  text_or_null(w, c.dimm, sizeof c.dimm);
  key(w, "offline");
  text(w, offline_text(c, buf));
  close(w, "}");
}

void write_edac(Writer& w, const RunReport& r, const Growth& g) {
  key(w, "edac");
  open(w, "{", false);
  key(w, "present");
  boolean(w, r.edac_end.present);
  key(w, "growth");
  open(w, "[", false);
  for (uint32_t i = 0; i < g.n; ++i) {
    const EdacGrowth& c = g.counters[i];
    next_member(w);
    open(w, "{", true);
    key(w, "mc");
    text(w, c.now.mc, sizeof c.now.mc);
    key(w, "dimm");
    text_or_null(w, c.now.dimm, sizeof c.now.dimm);
    key(w, "label");
    text_or_null(w, c.now.label, sizeof c.now.label);
    key(w, "ce");
    number(w, c.ce_delta);
    key(w, "ue");
    number(w, c.ue_delta);
    close(w, "}");
  }
  close(w, "]");
  key(w, "ce_total");
  number(w, g.ce_total);
  key(w, "ue_total");
  number(w, g.ue_total);
  close(w, "}");
}

void write_report(Writer& w, const RunReport& r, const Growth& g, const ReportVerdict& v) {
  open(w, "{", false);
  key(w, "format");
  text(w, kFormat);
  key(w, "host");
  text(w, r.host, sizeof r.host);
  key(w, "run_id");
  text(w, r.run_id, sizeof r.run_id);
  key(w, "start");
  utc_time(w, r.start_time);
  key(w, "end");
  utc_time(w, r.end_time);
  key(w, "duration_s");
  // A clock set back during the run must not make the run last for ages.
  number(w, r.end_time > r.start_time ? static_cast<uint64_t>(r.end_time - r.start_time) : 0);
  key(w, "options");
  text(w, r.options, sizeof r.options);
  key(w, "algorithms");
  open(w, "[", true);
  for (uint32_t i = 0; i < sizeof kAlgorithmNames / sizeof kAlgorithmNames[0]; ++i) {
    if ((r.algorithms_run >> i & 1) == 0) continue;
    next_member(w);
    text(w, kAlgorithmNames[i]);
  }
  if (r.pmem_read) {
    next_member(w);
    text(w, "PMEM");
  }
  close(w, "]");
  key(w, "bytes_visited");
  number(w, r.bytes_visited);
  key(w, "distinct_physical_bytes");
  number_or_null(w, r.distinct_known, r.distinct_bytes);
  key(w, "final_status");
  text(w, r.final_status);
  key(w, "exit_status");
  if (r.exit_status < 0) raw(w, "-");
  number(w, r.exit_status < 0 ? 0 - static_cast<uint64_t>(r.exit_status)
                              : static_cast<uint64_t>(r.exit_status));
  key(w, "verdict");
  text(w, v.verdict);
  key(w, "summary");
  text(w, v.summary, sizeof v.summary);
  key(w, "fault");
  text_or_null(w, r.fault, sizeof r.fault);
  key(w, "failing_cells");
  open(w, "[", false);
  for (uint32_t i = 0; i < r.cell_count && i < kReportMaxCells; ++i) write_cell(w, r.cells[i]);
  close(w, "]");
  key(w, "cells_not_listed");
  number(w, r.cells_dropped);
  write_edac(w, r, g);
  close(w, "}");
  raw(w, "\n");
  flush(&w.out);
}

// The working space of a write, kept off the stack (a fatal signal's handler
// may run on a small one).
struct Scratch {
  Growth growth;
  ReportVerdict verdict;
  Writer writer;
  char temp[PATH_MAX];
  char name[PATH_MAX];
};
Scratch g_scratch;

// "<dir>/.memot_report.json.<pid>.<try>": hidden, so that a temporary left
// by a crash is not taken for a report.
bool temp_name(char* out, const char* dir, int attempt) {
  char buf[24];
  Text t{out, PATH_MAX};
  add(&t, dir);
  add(&t, "/.");
  add(&t, kReportName);
  add(&t, ".");
  add(&t, digits(static_cast<uint64_t>(getpid()), 10, 1, buf));
  add(&t, ".");
  add(&t, digits(static_cast<uint64_t>(attempt), 10, 1, buf));
  return t.n + 1 < PATH_MAX;
}

}  // namespace

RunReport& run_report() {
  return g_report;
}

void run_report_clear() {
  g_report = RunReport{};
}

void run_report_verdict(const RunReport& report, ReportVerdict* out) {
  *out = ReportVerdict{};
  gather_growth(report, &g_scratch.growth);
  verdict_of(report, g_scratch.growth, out);
}

int run_report_write(const RunReport& report, const char* dir) {
  if (dir == nullptr || dir[0] == '\0') return EINVAL;
  Scratch& s = g_scratch;
  Text name{s.name, sizeof s.name};
  add(&name, dir);
  add(&name, "/");
  add(&name, kReportName);
  if (name.n + 1 >= sizeof s.name) return ENAMETOOLONG;

  // A new file, never an old one and never through a link: a name already
  // there (a crash's leftover, or planted) only moves on to the next one.
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < kTempTries; ++attempt) {
    if (!temp_name(s.temp, dir, attempt)) return ENAMETOOLONG;
    fd = ::open(s.temp, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kReportMode);
    if (fd < 0 && errno != EEXIST) return errno;
  }
  if (fd < 0) return EEXIST;

  s.verdict = ReportVerdict{};
  gather_growth(report, &s.growth);
  verdict_of(report, s.growth, &s.verdict);
  s.writer.out.fd = fd;
  s.writer.out.err = 0;
  s.writer.out.n = 0;
  s.writer.depth = 0;
  s.writer.fresh = true;
  // The mode the logs have, whatever the umask took away.
  int err = fchmod(fd, kReportMode) != 0 ? errno : 0;
  if (err == 0) {
    write_report(s.writer, report, s.growth, s.verdict);
    err = s.writer.out.err;
  }
  if (err == 0 && fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && err == 0) err = errno;
  if (err == 0 && rename(s.temp, s.name) != 0) err = errno;
  if (err != 0) {
    unlink(s.temp);
    return err;
  }
  // The rename itself lasts once the directory is on disk; a directory that
  // cannot be synced still has the report.
  const int dfd = ::open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    fsync(dfd);
    ::close(dfd);
  }
  return 0;
}

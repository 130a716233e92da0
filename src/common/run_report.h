// The run report: one JSON file beside the trace log that tells an operator
// what a run tested and found, in more detail than the protocol records can
// (where a failing cell lies, the memory controllers' error counts). It is
// gathered while the run goes on and written once, at its end.
#pragma once

#include <cstdint>
#include <ctime>

#include "common/edac.h"
#include "common/pagemap.h"

inline constexpr uint32_t kReportMaxCells = 16;
inline constexpr const char* kReportName = "memot_report.json";

enum class CellKind : uint8_t { kCompare, kMachineCheck };

enum class OfflineResult : uint8_t {
  kNotAsked,    // no quarantine requested
  kOfflined,    // the kernel took the page out of service
  kFailed,      // the kernel refused (offline_errno)
  kNotLocated,  // requested, but the page's frame is not known: never offlined
};

struct FailingCell {
  CellKind kind = CellKind::kCompare;
  char algorithm[20] = {};  // "MSCAN", ..., "Moving Inversion"; "" when not known
  uint32_t ref_no = 0;
  uint64_t buffer = 0;    // the test buffer's address
  uint64_t offset = 0;    // of the failing unit in the buffer
  uint64_t vaddr = 0;     // the failing byte (compare) or the poisoned page (machine check)
  uint64_t expected = 0;  // the 8-byte unit expected and read back (compare only)
  uint64_t actual = 0;
  PhysLocation where;
  char dimm[80] = {};  // EDAC label or SMBIOS locator; "" when the platform does not tell
  OfflineResult offline = OfflineResult::kNotAsked;
  int offline_errno = 0;
};

struct RunReport {
  char host[65] = {};
  char run_id[96] = {};
  time_t start_time = 0;
  time_t end_time = 0;
  char options[512] = {};      // the program arguments, joined by single spaces
  uint8_t algorithms_run = 0;  // bit i: algorithm kAlgoMscan + i ran at least once
  bool pmem_read = false;      // the physical read ran
  uint64_t bytes_visited = 0;
  bool distinct_known = false;  // pagemap gave frames for the chunks tested
  uint64_t distinct_bytes = 0;
  const char* final_status = "";  // the status record's text: "No Error", "Canceled", ...
  int exit_status = 0;
  char fault[96] = {};  // a fatal signal that ended the run: "SIGSEGV at 0x..."
  uint32_t cell_count = 0;
  uint32_t cells_dropped = 0;  // failing cells beyond kReportMaxCells
  FailingCell cells[kReportMaxCells];
  EdacSnapshot edac_start;
  EdacSnapshot edac_end;
};

// The report of the run under way (one per process).
RunReport& run_report();
void run_report_clear();

// What the run came to, for a program ("passed", "corrected-errors",
// "memory-error", "cancelled", "aborted") and for a person, in one line:
// "passed, but 12 corrected errors on DIMM DIMM_A1 during the run".
struct ReportVerdict {
  const char* verdict = "passed";
  char summary[320] = {};
};
void run_report_verdict(const RunReport& report, ReportVerdict* out);

// Writes the report as <dir>/memot_report.json: a temporary file in dir,
// written whole, synced, then renamed over the old one, so a reader sees the
// old report or the new one, never a part. Mode 0640; a symbolic link in the
// name's place is replaced, never followed. Returns 0, or the errno of the
// step that failed. It takes no heap memory, so that a run ending on a fatal
// signal can still write it; its working space is static, so one call at a
// time.
int run_report_write(const RunReport& report, const char* dir);

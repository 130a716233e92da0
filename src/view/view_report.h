// The run report memtest writes at the end of a run (memot_report.json in its
// trace directory), read for memtest-view: its verdict and summary, a line per
// failing cell, and the report itself for --json.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A failing cell of the report as text; "" for a member that is null.
struct ReportCell {
  std::string kind;  // "compare" or "machine-check"
  std::string algorithm;
  uint64_t ref_no = 0;
  std::string offset;  // in its buffer, "0x1008"
  std::string expected, actual, physical_address, dimm;
};

struct ViewReport {
  bool present = false;
  std::string verdict;              // "passed", "corrected-errors", "memory-error", ...
  std::string summary;              // one line for a person
  std::vector<std::string> cells;   // one line per failing cell listed
  std::vector<ReportCell> failing;  // the same cells, member by member
  uint64_t cells_not_listed = 0;
  std::string json;  // the report object, on one line
};

// What is at a path: which file, and when it was last written.
struct FileStamp {
  bool exists = false;
  dev_t dev = 0;
  ino_t ino = 0;
  timespec mtime{};
};
FileStamp file_stamp(const std::string& path);  // the name itself, a link not followed
// The clock the kernel stamps file times with (it may lag the precise one).
timespec file_clock_now();

// Only a report written after the run started: not the file that was there
// before it, and not stamped earlier than the start.
struct ReportAge {
  FileStamp before;
  timespec started{};
};

enum class ReportLoad { kRead, kNone, kBad };

// Reads the report at path into *out. With age, the report of a run
// memtest-view started: a missing or older report is kNone, and a link at
// the name is not followed. kBad with *error when it cannot be read or is not
// a run report.
ReportLoad report_load(const std::string& path, const ReportAge* age, ViewReport* out,
                       std::string* error);

// Where memtest, given these arguments (command[0] the program, null last),
// writes its report: its trace directory is the "-trc" value, else $VYK_log,
// else the data directory ("-path", else $VYK_data). "" when it has none.
std::string report_path(char* const* command);

// The final statuses a run ends with (the first field of the status record),
// written by memtest and read by memtest-view, and the abort bit of the error
// list level that makes the end an abort.
#pragma once

#include <cstdint>

inline constexpr uint32_t kStatusNoError = 1;
inline constexpr uint32_t kStatusCanceled = 2;
inline constexpr uint32_t kStatusCompleted = 3;
inline constexpr uint32_t kStatusErrorEnded = 4;
inline constexpr uint32_t kStatusAborted = 6;

// Set in Ex_error_list_level (and passed as the list kind) once an abort
// list has gone out: the run then ends Aborted rather than Error Ended.
inline constexpr uint32_t kAbortListKind = 0x80000000u;

struct FinalStatusInfo {
  uint32_t status;
  const char* name;         // also the end of the last progress text
  uint32_t progress_state;  // state of the progress record sent with it
  // The exit status memtest ends with after this final status, for a stream
  // read from a pipe, where memtest's own is not known. -1 for an abort,
  // which ends memtest with 255 (start-up), 16 (parameters), 2 (memory
  // device) or 0: the record does not say which.
  int exit_status;
  bool passed;  // a Completed run is the normal end of a run with a run time
};

inline constexpr FinalStatusInfo kFinalStatuses[] = {
    {kStatusNoError, "No Error", 2, 1, true},    {kStatusCanceled, "Canceled", 3, 2, false},
    {kStatusCompleted, "Completed", 4, 1, true}, {kStatusErrorEnded, "Error Ended", 5, 0, false},
    {kStatusAborted, "Aborted", 5, -1, false},
};

// The row of a final status; nullptr for any other value.
constexpr const FinalStatusInfo* find_final_status(uint32_t status) {
  for (const FinalStatusInfo& s : kFinalStatuses) {
    if (s.status == status) return &s;
  }
  return nullptr;
}

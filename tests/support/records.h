// Protocol records taken apart, shared by the unit and end-to-end tests. The
// parser itself is memtest-view's (src/common/record_reader.h).
#pragma once

#include <string>
#include <vector>

#include "common/record_reader.h"

namespace ts {

using Record = ProtocolRecord;
using Progress = ProgressFields;
using Status = StatusFields;
using ::parse_progress;
using ::parse_status;

// Splits a byte stream into records. Returns "" or a description of the
// first malformed byte (its offset included).
inline constexpr auto* parse_records = &read_all_records;
std::vector<Record> of_type(const std::vector<Record>& records, unsigned type);

// True for a running progress record of the progress thread ("... Pass=N>>"
// with state 1); its count and numbers depend on timing. A step that sees the
// test end while it builds its text sends that text empty.
bool is_running_progress(const Record& r);
// The raw records joined, running progress records left out except the first
// record of the stream (main's start record).
std::string without_running_progress(const std::vector<Record>& records);

}  // namespace ts

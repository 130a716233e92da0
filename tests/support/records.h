// Protocol records taken apart, shared by the unit and end-to-end tests. The
// parser itself is memtest-view's (src/common/record_reader.h).
#pragma once

#include <string>
#include <string_view>
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
std::string parse_records(std::string_view out, std::vector<Record>* records);
std::vector<Record> of_type(const std::vector<Record>& records, unsigned type);

// True for a running progress record of the progress thread ("... Pass=N>>"
// with state 1); its count and numbers depend on timing.
bool is_running_progress(const Record& r);
// The raw records joined, running progress records left out except the first
// record of the stream (main's start record).
std::string without_running_progress(const std::vector<Record>& records);

}  // namespace ts

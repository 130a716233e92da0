// Protocol records taken apart, shared by the unit and end-to-end tests.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ts {

struct Record {
  unsigned type = 0;           // 1 log, 2 status, 3 progress, 5 version, 6 process
  unsigned lines = 0;          // line count of the header
  std::string module, device;  // header fields, padding included
  std::string body;            // everything after the header line
  std::string raw;             // the whole record, "ONLPTL," included
};

// Splits a byte stream into records. Checks the length field, the 45-byte
// header and that the line count equals the newlines of the body. Returns ""
// or a description of the first malformed byte (its offset included).
std::string parse_records(std::string_view out, std::vector<Record>* records);

struct Progress {
  unsigned elapsed = 0, second = 0, percent = 0, state = 0;
  std::string text;
};
struct Status {
  unsigned status = 0, flags = 0, value = 0;
  std::string text;  // everything after the third comma, final newline cut
};
bool parse_progress(const Record& r, Progress* p);
bool parse_status(const Record& r, Status* s);
std::vector<Record> of_type(const std::vector<Record>& records, unsigned type);

// True for a running progress record of the progress thread ("... Pass=N>>"
// with state 1); its count and numbers depend on timing.
bool is_running_progress(const Record& r);
// The raw records joined, running progress records left out except the first
// record of the stream (main's start record).
std::string without_running_progress(const std::vector<Record>& records);

}  // namespace ts

// Reading the "ONLPTL" record stream that transmit.h writes: splitting a
// byte stream into records, checked field by field, and taking the bodies of
// log, progress and status records apart. Used by memtest-view and by the
// tests; memtest itself only writes records.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct ProtocolRecord {
  uint32_t type = 0;           // kRecLog, kRecStatus, ... (any two hex digits are read)
  uint32_t lines = 0;          // line count of the header
  std::string module, device;  // header fields, padding included
  std::string body;            // everything after the header line
  std::string raw;             // the whole record, "ONLPTL," included
  uint64_t offset = 0;         // where the record starts in the stream
};

struct ProgressFields {
  uint32_t elapsed = 0, second = 0, percent = 0, state = 0;
  std::string text;
};
struct StatusFields {
  uint32_t status = 0, flags = 0, value = 0;
  std::string text;  // everything after the third comma, final newline cut
};
struct LogFields {
  uint32_t kind = 0;
  std::string msgno;  // padding included
  std::string datetime, text;
};

// The largest record a reader accepts; a longer length field is taken as
// damage rather than waited for (memtest's largest record, a result list,
// is below 35 KiB).
inline constexpr uint32_t kMaxRecordLength = 64 * 1024;

// An incremental reader: bytes go in as they arrive, in pieces of any size,
// and whole records come out. The first malformed byte stops it for good.
struct RecordReader {
  std::string pending;  // bytes received but not yet taken as a record
  uint64_t offset = 0;  // stream offset of pending[0]
  std::string error;    // "" or what is wrong, with its byte offset
};

enum RecordResult { kRecordReady, kRecordNeedMore, kRecordBad };

void record_reader_feed(RecordReader* reader, std::string_view bytes);
// Takes the next whole record out of the bytes fed so far.
RecordResult record_reader_next(RecordReader* reader, ProtocolRecord* record);
// At the end of the input: kRecordBad (error set) when bytes of an unfinished
// record are left, else kRecordNeedMore meaning "nothing left".
RecordResult record_reader_finish(RecordReader* reader);

// Whole-stream convenience: every record of out into *records (appended).
// Returns "" or the reader's error.
std::string read_all_records(std::string_view out, std::vector<ProtocolRecord>* records);

// Body parsers: false when the record is of another type or its body does not
// have the fields of its type.
bool parse_progress(const ProtocolRecord& r, ProgressFields* p);
bool parse_status(const ProtocolRecord& r, StatusFields* s);
bool parse_log(const ProtocolRecord& r, LogFields* l);
// A process record: its code (1 log rotation begins, 2 it ended).
bool parse_process(const ProtocolRecord& r, uint32_t* code);

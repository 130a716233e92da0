// printfx, log files with rotation, date-time stamps and bounded formatting.
#pragma once

#include <cstdint>

// The printfx flag word. Where the text goes (any of these; with none of
// them printfx does nothing):
inline constexpr uint32_t kPfLogRecord1 = 0x0001;  // a log record of kind 1 to the controller
inline constexpr uint32_t kPfLogRecord2 = 0x0002;  // a log record of kind 2 to the controller
inline constexpr uint32_t kPfTraceLog = 0x0004;    // an entry in the trace log
inline constexpr uint32_t kPfDebugLog = 0x0008;    // an entry in the debug log, with -debug only
// What the second argument is (exactly one of these):
inline constexpr uint32_t kPfFormat = 0x1000;  // a format; the entry's number is 00000
inline constexpr uint32_t kPfMsgNo = 0x2000;   // a message number; its table text is the format
// The flag words most calls use.
inline constexpr uint32_t kPfBothLogs = kPfTraceLog | kPfDebugLog;
inline constexpr uint32_t kPfTraceText = kPfFormat | kPfBothLogs;  // a trace line
inline constexpr uint32_t kPfTraceMsg = kPfMsgNo | kPfBothLogs;    // a message to both logs
inline constexpr uint32_t kPfDebugText = kPfFormat | kPfDebugLog;  // a debug-log-only line

int printfx(uint32_t flags, const char* fmt_or_msgno, ...);
char* snprintfx(char* buf, uint32_t size, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
int create_date_times(char* buf, uint32_t size);
int output_logfile(const char* base, const char* datetime, const char* msgno, const char* text);
int64_t get_file_size(const char* path);
// 0 when log files can be made in dir (a directory this process may write
// and enter), else the errno that says why not.
int log_dir_error(const char* dir);
// Thread-safe text of a system error number, written into buf.
const char* sys_error_text(int err, char* buf, unsigned size);

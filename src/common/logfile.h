// printfx, log files with rotation, date-time stamps and bounded formatting.
#pragma once

#include <cstdint>

// printfx flag bits.
inline constexpr uint32_t kPfLog1 = 0x0001;
inline constexpr uint32_t kPfLog2 = 0x0002;
inline constexpr uint32_t kPfTrace = 0x0004;
inline constexpr uint32_t kPfDebug = 0x0008;
inline constexpr uint32_t kPfFormat = 0x1000;
inline constexpr uint32_t kPfMsgNo = 0x2000;

int printfx(uint32_t flags, const char* fmt_or_msgno, ...);
char* snprintfx(char* buf, uint32_t size, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));
int create_date_times(char* buf, uint32_t size);
int output_logfile(const char* base, const char* datetime, const char* msgno, const char* text);
int64_t get_file_size(const char* path);
// Thread-safe text of a system error number, written into buf.
const char* sys_error_text(int err, char* buf, unsigned size);

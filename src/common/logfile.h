// Message table, printfx, log files with rotation, date-time stamps and the
// tracked block allocator.
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
int get_msgtbl(const char* file_name);
const char* cv_msgno2fmt(const char* msgno);

// The arguments that the calls issuing a message number pass, one letter
// each: s text, u unsigned int, l unsigned long, L unsigned long long, p
// pointer. "" for a number that no call issues.
const char* msg_signature(const char* msgno);
// How many of those arguments a message text takes (its conversions must fit
// the first ones, in order), or -1 when the loader refuses the text: a
// conversion that does not fit its argument, more conversions than
// arguments, %n, '*', positional arguments or widths and precisions of five
// digits or more.
int msg_text_fit(const char* msgno, const char* text);

// Block allocator operations.
inline constexpr uint32_t kAreaCreate = 1;
inline constexpr uint32_t kAreaAlloc = 2;
inline constexpr uint32_t kAreaFree = 3;
inline constexpr uint32_t kAreaFreeAll = 4;
// op 2 returns the block address, 0 (no memory) or -1 (no table/slot);
// the other ops return 0 or -1.
intptr_t tp_area_ctl(uint32_t op, uintptr_t arg);

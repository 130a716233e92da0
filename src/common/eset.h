// Setters of the error record in TEST_INF.err.
#pragma once

#include <cstdint>

void eset_init();
void eset_test_infomation(const char* name, const char* device);
void eset_date();
void eset_etitle(const char* text);
void eset_freemsg(int idx, const char* text);
void eset_freemsg_p(int idx, const char* text);
int eset_freemsg_printfx(int which, int idx, uint32_t flags, const char* fmt_or_msgno, ...);
void eset_system_call(const char* name, int err);
void eset_action(int idx, const char* msgno, ...);

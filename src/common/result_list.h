// Result lists (error list, abort list) and the header texts they share with
// the result block of the status record.
#pragma once

#include <cstdint>
#include <ctime>

#include "state/final_status.h"

intptr_t put_error_list(int level);
intptr_t put_skip_abort_list(uint32_t kind);
char* create_msg_header(int kind, char* buf, uint32_t size, uint32_t status);
// Builds the result block of a status record without text into buf; returns
// its length.
int build_result_block(char* buf, uint32_t size, uint32_t status);

// Writes t as local time "20yy/mm/dd hh:mm:ss", the date form of the result
// texts and of the error record.
void format_result_date(time_t t, char* buf, uint32_t size);

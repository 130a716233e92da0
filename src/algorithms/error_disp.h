// Classification of every detected error into an error or abort list.
#pragma once

#include <cstdint>

struct Error_Details_t;

extern char err_msg[80];

uint32_t VykTp2MemErrorDisp(Error_Details_t* details);
// Titles shown for a parameter error number and for a Ref No.
const char* param_error_title(uint32_t number);
const char* compare_error_title(uint32_t ref_no);

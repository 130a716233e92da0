// The run-setting pre-scan of the keyword text.
#pragma once

#include <cstdint>

int32_t Pre_Getp_ForProgress(char** argv);

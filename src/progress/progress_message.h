// Texts of the progress records: the running text and the final text.
#pragma once

#include <cstdint>

struct progress_t;

void progress_make_message(progress_t* rec, char* text, uint32_t* pass);
void progress_end_make_message_IA(char* text);

// One progress step: the arithmetic of timed, sized and endless runs and the
// record it sends.
#pragma once

#include <cstdint>

struct progress_t;

// One step of a timed or sized run, and of an endless run.
void innovate_progress_time(progress_t* rec, char* text);
void innovate_progress_infinity(progress_t* rec, char* text);

// Round length in seconds of the current run: the level's default run time
// when no RUNTIME is in force, the one-round PMEM estimate when PMEM is
// selected, else 0.
uint32_t progress_round_length();

// The output line protocol: "ONLPTL" records on standard output.
#pragma once

#include <cstddef>
#include <cstdint>

// Record types.
inline constexpr uint32_t kRecLog = 1;
inline constexpr uint32_t kRecStatus = 2;
inline constexpr uint32_t kRecProgress = 3;
inline constexpr uint32_t kRecVersion = 5;
inline constexpr uint32_t kRecProcess = 6;

int transmit_setup(const char* module, const char* device);
int transmit_log(uint32_t kind, const char* msgno, const char* datetime, const char* text);
int transmit_status(uint32_t status, uint32_t flags, uint32_t value, const char* text);
int transmit_progress(uint32_t elapsed, uint32_t second, uint32_t percent, uint32_t state,
                      const char* text);
int transmit_process(uint32_t code);
// Answers "-vl" with the version record and ends the program with status 0.
void transmit_module_vl(int argc, char** argv);

// Writes one whole record to the output in a single write (under a lock, so
// records of two threads never interleave, whatever their length).
void output_record(const char* data, size_t len);

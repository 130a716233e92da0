// Unit access to the test buffer and the compare that reports mismatches.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

uint32_t VykTp2WriteToMemory(void* buffer, uint64_t offset, VykTp2MemStruct_t* ctl, uint16_t kind,
                             uint32_t length);
uint32_t VykTp2ReadFromMemory(const void* buffer, uint64_t offset, VykTp2MemStruct_t* ctl,
                              void* dest, uint32_t length);
uint32_t VykTp2ComplimentBuffer(void* data, uint64_t offset, uint32_t length);
uint32_t VykTp2CompareBuffer(const void* actual, const void* expected, uint32_t length,
                             uint64_t* mismatch, VykTp2MemStruct_t* ctl, uint32_t ref_no,
                             const void* buffer, uint64_t unit_offset);
// Lists a machine check in the test buffer (the kernel's SIGBUS for an
// uncorrectable error at buffer + offset) as a data compare error of the
// algorithm that touched it, under its Ref No. Returns 1024, as a compare
// that found an error does.
uint32_t report_machine_check(const void* buffer, uint64_t offset, uint32_t ref_no,
                              const char* algorithm);

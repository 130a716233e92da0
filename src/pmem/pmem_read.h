// The physical memory read pass: reads the readable regions block by block
// through the memory device and counts the bytes read.
#pragma once

#include <cstdint>

struct VykTp2MemStruct_t;

// read_size: block length (its low 32 bits are used); status: the caller's
// call counters, of which byte 5 counts the rounds; done: the caller's byte
// counter. 1: normal end; 2: the memory device could not be opened.
uint32_t VykTp2PMEMRead(uint64_t read_size, uint64_t* status, VykTp2MemStruct_t* ctl,
                        uint64_t* done);

// Test buffer chunks, taken and given back around every algorithm call.
#pragma once

#include <cstdint>

void* VykTp2GetMemoryChunk(uint32_t size, uint32_t* status);
uint32_t VykTp2FreeMemoryChunk(void* chunk);

// The DIMM that holds a physical address, by the firmware's SMBIOS tables as
// the kernel exports them under /sys/firmware/dmi/entries.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes the DIMM's name into out (at most size bytes with the NUL): its
// device locator, after its bank locator and a blank when it has one
// ("P0_Node0_Channel1_Dimm0 DIMM_B1"); control characters show as '?'.
// False when no mapped range holds the address or the tables are missing,
// short or malformed.
bool smbios_dimm_of(uint64_t phys, char* out, size_t size);

// Taking a physical page out of service, and how much memory the kernel has
// already taken out after hardware errors.
#pragma once

#include <cstdint>
#include <string_view>

// Asks the kernel to soft-offline the page that holds the physical address
// phys: it moves the page's data elsewhere and stops using the frame (needs
// root and a kernel with memory-failure handling). 0, or the errno of the
// refusal; a short write counts as EIO.
int page_soft_offline(uint64_t phys);

// The "HardwareCorrupted:" amount of /proc/meminfo, in KiB: memory poisoned
// or offlined after hardware errors. -1 when the file cannot be read or has
// no such line.
int64_t meminfo_hardware_corrupted_kib();
// The amount of the /proc/meminfo line that begins with key (with its
// colon: "MemAvailable:"), in KiB; -1 as above.
int64_t meminfo_kib(std::string_view key);

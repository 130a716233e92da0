// Where a page of this process lies in physical memory, read from
// /proc/self/pagemap, and the set of distinct physical pages a run tested.
#pragma once

#include <cstdint>

enum class PhysStatus : uint8_t {
  kLocated,     // frame known
  kHidden,      // page present, but the kernel shows frame 0 to a process
                // without CAP_SYS_ADMIN
  kNotPresent,  // not in memory (never touched, or swapped out)
  kUnreadable,  // no pagemap (no /proc, a kernel without it, a read error)
};

struct PhysLocation {
  PhysStatus status = PhysStatus::kUnreadable;
  uint64_t pfn = 0;        // page frame number (kLocated)
  uint64_t phys = 0;       // physical address of the byte asked for (kLocated)
  bool poisoned = false;   // the frame is marked hardware-poisoned (/proc/kpageflags)
};

// The physical place of the byte at vaddr. A page the kernel has taken out of
// service after a machine check shows in pagemap as a swap-type entry that
// carries its frame; that frame is taken only when /proc/kpageflags confirms
// it is poisoned.
PhysLocation phys_locate(const void* vaddr);

// A short text for the trace: "located", "hidden (needs CAP_SYS_ADMIN)", ...
const char* phys_status_text(PhysStatus status);

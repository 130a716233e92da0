// Where a page of this process lies in physical memory, read from
// /proc/self/pagemap, and the set of distinct physical pages a run tested.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

enum class PhysStatus : uint8_t {
  kLocated,     // frame known
  kHidden,      // page present, but the kernel shows frame 0 to a process
                // without CAP_SYS_ADMIN
  kNotPresent,  // not in memory (never touched, or swapped out)
  kUnreadable,  // no pagemap (no /proc, a kernel without it, a read error)
};

struct PhysLocation {
  PhysStatus status = PhysStatus::kUnreadable;
  uint64_t pfn = 0;       // page frame number (kLocated)
  uint64_t phys = 0;      // physical address of the byte asked for (kLocated)
  bool poisoned = false;  // the frame is marked hardware-poisoned (/proc/kpageflags)
};

// The physical place of the byte at vaddr (never dereferenced). A page the
// kernel has taken out of service after a machine check shows in pagemap as a
// swap-type entry that carries its frame; that frame is taken only when
// /proc/kpageflags confirms it is poisoned.
PhysLocation phys_locate(const void* vaddr);

// A short text for the trace: "located", "hidden (the kernel shows page
// frames only to CAP_SYS_ADMIN)", "not present", "unreadable (no
// /proc/self/pagemap)".
const char* phys_status_text(PhysStatus status);

// A set of page frame numbers, to count the distinct physical pages a run
// covered. Sparse: a leaf bitmap of 32768 frames (4 KiB) is allocated the
// first time one of its frames is added, and the leaves are kept sorted by
// their index (pfn >> 15), so no table ever spans the whole frame range.
struct PfnSet {
  struct Leaf {
    uint64_t index = 0;  // pfn >> 15
    std::unique_ptr<uint64_t[]> bits;
  };
  std::vector<Leaf> leaves;  // ascending index
  uint64_t count = 0;        // distinct frames added
  size_t last = 0;           // leaf of the previous add: runs of frames stay in one leaf

  PfnSet() = default;
  PfnSet(const PfnSet&) = delete;
  PfnSet& operator=(const PfnSet&) = delete;
};

void pfn_set_add(PfnSet* set, uint64_t pfn);
bool pfn_set_contains(const PfnSet& set, uint64_t pfn);
uint64_t pfn_set_count(const PfnSet& set);
// Empties the set and releases its leaves.
void pfn_set_clear(PfnSet* set);

// Adds to `set` the frame of every present page that overlaps
// [start, start + size), reading pagemap once per call in batches. Returns
// how many pages gave a frame: 0 when the frames are hidden or pagemap is
// unreadable.
uint64_t pagemap_collect(const void* start, uint64_t size, PfnSet* set);

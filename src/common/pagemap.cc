#include "common/pagemap.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>

#include "common/platform.h"

namespace {

constexpr char kPagemapPath[] = "/proc/self/pagemap";
constexpr char kPageFlagsPath[] = "/proc/kpageflags";

// A pagemap entry.
constexpr uint64_t kPresent = uint64_t{1} << 63;
constexpr uint64_t kSwapped = uint64_t{1} << 62;
constexpr uint64_t kFrameMask = (uint64_t{1} << 55) - 1;  // bits 0-54
// A swap-type entry keeps its swap type in the low bits, below the offset;
// for a poisoned page the offset is the frame.
constexpr unsigned kSwapTypeBits = 5;
// KPF_HWPOISON in /proc/kpageflags.
constexpr uint64_t kHwPoison = uint64_t{1} << 19;

constexpr size_t kEntryBytes = 8;
constexpr size_t kBatchEntries = 512;

constexpr unsigned kLeafShift = 15;  // 32768 frames a leaf
constexpr uint64_t kLeafFrames = uint64_t{1} << kLeafShift;
constexpr size_t kLeafWords = kLeafFrames / 64;

uint64_t page_size() {
  return static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
}

uint64_t load_le64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}

// The 64-bit entry at `offset` of an open file; false on a short read.
bool read_entry(const PlatformFile& file, uint64_t offset, uint64_t* entry) {
  if (file.fd() < 0) return false;
  unsigned char b[kEntryBytes];
  if (platform().read_file_at(file.fd(), b, sizeof b, offset) != static_cast<ssize_t>(sizeof b)) {
    return false;
  }
  *entry = load_le64(b);
  return true;
}

// Whether /proc/kpageflags marks the frame hardware-poisoned; false when it
// cannot be read (it needs CAP_SYS_ADMIN).
bool frame_poisoned(uint64_t pfn) {
  const PlatformFile flags(kPageFlagsPath);
  uint64_t entry = 0;
  return read_entry(flags, pfn * kEntryBytes, &entry) && (entry & kHwPoison) != 0;
}

// The leaf of `index`, or the position where it belongs.
size_t leaf_position(const PfnSet& set, uint64_t index) {
  if (set.last < set.leaves.size() && set.leaves[set.last].index == index) return set.last;
  const auto it =
      std::lower_bound(set.leaves.begin(), set.leaves.end(), index,
                       [](const PfnSet::Leaf& leaf, uint64_t i) { return leaf.index < i; });
  return static_cast<size_t>(it - set.leaves.begin());
}

}  // namespace

PhysLocation phys_locate(const void* vaddr) {
  PhysLocation loc;
  const uint64_t page = page_size();
  const uint64_t va = reinterpret_cast<uintptr_t>(vaddr);
  uint64_t entry = 0;
  {
    const PlatformFile pagemap(kPagemapPath);
    if (!read_entry(pagemap, va / page * kEntryBytes, &entry)) return loc;
  }
  if ((entry & kPresent) != 0) {
    loc.pfn = entry & kFrameMask;
    if (loc.pfn == 0) {
      loc.status = PhysStatus::kHidden;
      return loc;
    }
    loc.poisoned = frame_poisoned(loc.pfn);
  } else {
    // Swapped out, or poisoned: only kpageflags tells a frame from a swap
    // offset.
    const uint64_t pfn = (entry & kFrameMask) >> kSwapTypeBits;
    if ((entry & kSwapped) == 0 || pfn == 0 || !frame_poisoned(pfn)) {
      loc.status = PhysStatus::kNotPresent;
      return loc;
    }
    loc.pfn = pfn;
    loc.poisoned = true;
  }
  loc.status = PhysStatus::kLocated;
  loc.phys = loc.pfn * page + va % page;
  return loc;
}

const char* phys_status_text(PhysStatus status) {
  switch (status) {
    case PhysStatus::kLocated:
      return "located";
    case PhysStatus::kHidden:
      return "hidden (the kernel shows page frames only to CAP_SYS_ADMIN)";
    case PhysStatus::kNotPresent:
      return "not present";
    case PhysStatus::kUnreadable:
      break;
  }
  return "unreadable (no /proc/self/pagemap)";
}

void pfn_set_add(PfnSet* set, uint64_t pfn) {
  const uint64_t index = pfn >> kLeafShift;
  const size_t pos = leaf_position(*set, index);
  if (pos == set->leaves.size() || set->leaves[pos].index != index) {
    PfnSet::Leaf leaf;
    leaf.index = index;
    leaf.bits = std::make_unique<uint64_t[]>(kLeafWords);  // zeroed
    set->leaves.insert(set->leaves.begin() + static_cast<ptrdiff_t>(pos), std::move(leaf));
  }
  set->last = pos;
  const uint64_t bit = pfn & (kLeafFrames - 1);
  uint64_t& word = set->leaves[pos].bits[bit / 64];
  const uint64_t mask = uint64_t{1} << (bit % 64);
  if ((word & mask) == 0) {
    word |= mask;
    ++set->count;
  }
}

bool pfn_set_contains(const PfnSet& set, uint64_t pfn) {
  const uint64_t index = pfn >> kLeafShift;
  const size_t pos = leaf_position(set, index);
  if (pos == set.leaves.size() || set.leaves[pos].index != index) return false;
  const uint64_t bit = pfn & (kLeafFrames - 1);
  return (set.leaves[pos].bits[bit / 64] >> (bit % 64) & 1) != 0;
}

uint64_t pfn_set_count(const PfnSet& set) {
  return set.count;
}

void pfn_set_clear(PfnSet* set) {
  set->leaves.clear();
  set->leaves.shrink_to_fit();
  set->count = 0;
  set->last = 0;
}

uint64_t pagemap_collect(const void* start, uint64_t size, PfnSet* set) {
  if (size == 0) return 0;
  const uint64_t page = page_size();
  const uint64_t va = reinterpret_cast<uintptr_t>(start);
  const uint64_t first = va / page;
  const uint64_t end = (va + size - 1) / page + 1;  // one past the last page
  const PlatformFile pagemap(kPagemapPath);
  unsigned char buf[kBatchEntries * kEntryBytes];
  uint64_t found = 0;
  for (uint64_t p = first; p < end;) {
    const size_t want = static_cast<size_t>(std::min<uint64_t>(end - p, kBatchEntries));
    const ssize_t got =
        platform().read_file_at(pagemap.fd(), buf, want * kEntryBytes, p * kEntryBytes);
    if (got <= 0) break;
    const size_t entries = static_cast<size_t>(got) / kEntryBytes;
    for (size_t i = 0; i < entries; ++i) {
      const uint64_t entry = load_le64(buf + i * kEntryBytes);
      const uint64_t pfn = entry & kFrameMask;
      if ((entry & kPresent) == 0 || pfn == 0) continue;
      pfn_set_add(set, pfn);
      ++found;
    }
    if (entries == 0) break;
    p += entries;
  }
  return found;
}

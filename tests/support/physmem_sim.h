// A simulated physical memory behind the memory device, with the read rules
// of Linux's /dev/mem under STRICT_DEVMEM as seen on a stock Debian kernel:
// a read succeeds only when it lies wholly in a readable range (the first
// 1 MiB on such a kernel) and then returns every byte; otherwise it fails
// whole with -1: EFAULT when it ends beyond installed RAM, else EPERM. A failed read leaves the
// position; a seek to any 64-bit position succeeds unless the map says otherwise. Reads copy
// nothing: the buffer is left as it is.
//
// Map text, words separated by blanks or commas; numbers in C notation with
// an optional K, M or G suffix:
//   ram=E            installed RAM ends at E (default: the end of the last
//                    readable range)
//   read=S-E         a readable range
//   stripes=S+NxL/P  N readable ranges of L bytes, one every P bytes from S
//   seekfail=S-E     seeks into the range fail with EINVAL
//   open=fail        the open fails with EACCES
//   delay=MS         each successful read over 4 KiB takes MS milliseconds
//   aslimit=N        address-space soft limit     allocfail  no block buffers
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace physmem {

using Range = std::pair<uint64_t, uint64_t>;

struct Map {
  std::vector<Range> readable, seek_fails;  // readable: sorted, apart
  uint64_t ram_end = 0, delay_ms = 0, as_limit = UINT64_MAX;
  bool open_fails = false, alloc_fails = false;
};

// "" or what is wrong with the text.
std::string parse(std::string text, Map* map);

// One open descriptor of the simulated device.
struct Device {
  Map map;
  uint64_t pos = 0;
  std::vector<uint64_t> block_starts;  // where each successful 512-byte read began
  int64_t seek(uint64_t to);
  ssize_t read(size_t n);
};

}  // namespace physmem

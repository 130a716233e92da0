// The platform calls of the physical memory read: the memory device opened
// read-only, 64-bit seek, read and close, the address-space limit, and the
// heap blocks the reads go into. The PMEM code makes these calls only
// through this layer.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

struct PmemDevice {
  int (*open_mem)();                             // "/dev/mem" read-only; -1 and errno
  int64_t (*seek)(int fd, uint64_t position);    // absolute; position reached or -1
  ssize_t (*read)(int fd, void* buf, size_t n);  // bytes read, or -1 and errno
  int (*close)(int fd);
  uint64_t (*as_soft_limit)();  // RLIMIT_AS soft limit; UINT64_MAX when unlimited
  void* (*alloc_block)(size_t size);
  void (*free_block)(void* block);
};

// The layer in force: the real device unless a test has put another in.
const PmemDevice& pmem_device();
// Test seam for the unit tests: nullptr puts the real device back. The real
// device opens exactly "/dev/mem" and no other path; nothing outside the
// program's own code can change that.
void set_pmem_device(const PmemDevice* device);

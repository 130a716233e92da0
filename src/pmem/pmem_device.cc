#include "pmem/pmem_device.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace {

int open_dev_mem() {
  return ::open("/dev/mem", O_RDONLY);
}

int64_t seek_dev_mem(int fd, uint64_t position) {
  return static_cast<int64_t>(::lseek64(fd, static_cast<off64_t>(position), SEEK_SET));
}

ssize_t read_dev_mem(int fd, void* buf, size_t n) {
  return ::read(fd, buf, n);
}

int close_dev_mem(int fd) {
  return ::close(fd);
}

uint64_t address_space_soft_limit() {
  struct rlimit64 limit {};
  if (getrlimit64(RLIMIT_AS, &limit) != 0) return UINT64_MAX;  // no limit known
  if (limit.rlim_cur == RLIM64_INFINITY) return UINT64_MAX;
  return static_cast<uint64_t>(limit.rlim_cur);
}

void* heap_block(size_t size) {
  return std::malloc(size);
}

void free_heap_block(void* block) {
  std::free(block);
}

constexpr PmemDevice kDevMem{
    &open_dev_mem, &seek_dev_mem,   &read_dev_mem, &close_dev_mem, &address_space_soft_limit,
    &heap_block,   &free_heap_block};

std::atomic<const PmemDevice*> g_device{&kDevMem};

}  // namespace

const PmemDevice& pmem_device() {
  return *g_device.load();
}

void set_pmem_device(const PmemDevice* device) {
  g_device.store(device != nullptr ? device : &kDevMem);
}

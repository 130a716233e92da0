#include "common/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "state/process_end.h"

namespace {

int system_time_of_day(struct timeval* tv) {
  return gettimeofday(tv, nullptr);
}

time_t system_time_now() {
  return time(nullptr);
}

void system_stamp_time(struct timeval* tv) {
  if (gettimeofday(tv, nullptr) != 0) *tv = timeval{time(nullptr), 0};
}

void system_sleep_seconds(unsigned seconds) {
  timespec left{static_cast<time_t>(seconds), 0};
  while (nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Large chunks come from the heap as fresh mappings, and a sweep then spends
// more time taking page faults than testing memory. Asking for transparent
// huge pages over the whole pages of the block (a hint only: nothing is
// touched, locked or realigned) cuts the faults 512-fold where the kernel
// grants them; where it does not, nothing changes.
void advise_huge_pages(void* chunk, size_t size) {
#ifdef MADV_HUGEPAGE
  const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(chunk) + page - 1) & ~(page - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(chunk) + size) & ~(page - 1);
  if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
  (void)chunk;
  (void)size;
#endif
}

void* chunk_heap_alloc(size_t size) {
  void* chunk = std::malloc(size);
  if (chunk != nullptr && size >= (size_t{2} << 20)) advise_huge_pages(chunk, size);
  return chunk;
}

void* heap_alloc(size_t size) {
  return std::malloc(size);
}

void heap_free(void* block) {
  std::free(block);
}

// Writes all of data to fd; interrupted and partial writes are retried,
// other errors (EPIPE, EFBIG under a file-size limit) are ignored: the reader
// simply misses the text.
void write_all(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = ::write(fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
}

void write_stdout(const char* data, size_t len) {
  write_all(STDOUT_FILENO, data, len);
}

void write_stderr(const char* data, size_t len) {
  write_all(STDERR_FILENO, data, len);
}

int open_file(const char* path, int flags) {
  return ::open(path, flags | O_CLOEXEC);
}

ssize_t read_fd_at(int fd, void* buf, size_t n, uint64_t offset) {
  return ::pread64(fd, buf, n, static_cast<off64_t>(offset));
}

ssize_t write_fd(int fd, const void* buf, size_t n) {
  return ::write(fd, buf, n);
}

int list_dir(const char* path, void (*each)(const char* name, void* ctx), void* ctx) {
  DIR* dir = ::opendir(path);
  if (dir == nullptr) return -1;
  while (const dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) each(e->d_name, ctx);
  }
  ::closedir(dir);
  return 0;
}

ssize_t read_fd(int fd, void* buf, size_t n) {
  return ::read(fd, buf, n);
}

int close_fd(int fd) {
  return ::close(fd);
}

int open_dev_mem() {
  return ::open("/dev/mem", O_RDONLY);
}

int64_t seek_fd(int fd, uint64_t position) {
  return static_cast<int64_t>(::lseek64(fd, static_cast<off64_t>(position), SEEK_SET));
}

uint64_t address_space_soft_limit() {
  struct rlimit64 limit {};
  if (getrlimit64(RLIMIT_AS, &limit) != 0) return UINT64_MAX;  // no limit known
  if (limit.rlim_cur == RLIM64_INFINITY) return UINT64_MAX;
  return static_cast<uint64_t>(limit.rlim_cur);
}

}  // namespace

constexpr Platform kSystemPlatform{
    &system_time_of_day,
    &system_time_now,
    &system_sleep_seconds,
    &system_stamp_time,
    &chunk_heap_alloc,
    &heap_free,
    &heap_alloc,
    &::mlock,
    &::munlock,
    &write_stdout,
    &write_stderr,
    &_exit,
    &memtest_claim_end,
    &open_file,
    &read_fd_at,
    &write_fd,
    &close_fd,
    &list_dir,
    {&open_dev_mem, &seek_fd, &read_fd, &close_fd, &address_space_soft_limit, &heap_alloc,
     &heap_free},
};

namespace {

// Atomic: the cancel and progress threads read it while a test may put
// another platform in.
std::atomic<const Platform*> g_platform{&kSystemPlatform};

}  // namespace

const Platform& platform() {
  return *g_platform.load();
}

void set_platform(const Platform* p) {
  g_platform.store(p != nullptr ? p : &kSystemPlatform);
}

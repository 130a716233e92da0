// The calls to the machine that tests, fuzzers and benchmarks replace: the
// clock of the time checks and of the progress thread, sleep, heap blocks,
// the output of records, the end of the process, small files under /proc and
// /sys, and the physical memory device. Code that makes one of these calls
// makes it through the platform in force.
#pragma once

#include <fcntl.h>
#include <sys/time.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <ctime>

// The physical memory device: "/dev/mem" opened read-only, 64-bit seek, read
// and close, the address-space limit, and the heap blocks the reads go into.
struct PmemDevice {
  int (*open_mem)();                             // "/dev/mem" read-only; -1 and errno
  int64_t (*seek)(int fd, uint64_t position);    // absolute; position reached or -1
  ssize_t (*read)(int fd, void* buf, size_t n);  // bytes read, or -1 and errno
  int (*close)(int fd);
  uint64_t (*as_soft_limit)();  // RLIMIT_AS soft limit; UINT64_MAX when unlimited
  void* (*alloc_block)(size_t size);
  void (*free_block)(void* block);
};

struct Platform {
  // Clock: the time of day behind the millisecond ticks, the seconds of the
  // progress clock, and the one-second pause.
  int (*time_of_day)(struct timeval* tv);
  time_t (*time_now)();
  void (*sleep_seconds)(unsigned seconds);
  // The wall clock of stamps: log lines, result dates and the run's start.
  // Kept apart from time_of_day so that reading it never moves the clock a
  // test steps for its time checks.
  void (*stamp_time)(struct timeval* tv);
  // Test buffer chunks, and the parameter text (released with free).
  void* (*chunk_alloc)(size_t size);
  void (*chunk_free)(void* chunk);
  void* (*text_alloc)(size_t size);
  // Keeps a block in RAM (mlock) and lets it go again: 0, or -1 and errno.
  int (*lock_memory)(const void* block, size_t size);
  int (*unlock_memory)(const void* block, size_t size);
  // One whole record to standard output.
  void (*write_record)(const char* data, size_t len);
  // A line for a person, to standard error.
  void (*write_error)(const char* data, size_t len);
  // The end of the process: _exit. Should it return (only a replaced one
  // does), the progress thread stops as if the process had ended and the
  // cancel calls _exit all the same. The progress thread claims the end with
  // memtest_claim_end.
  void (*end_process)(int status);
  bool (*progress_claim_end)();
  // Files under /proc and /sys: open, read at an offset (pread), write,
  // close, and the names in a directory (without "." and ".."; 0, or -1 and
  // errno). Never used for logs or the run report.
  int (*open_file)(const char* path, int flags);
  ssize_t (*read_file_at)(int fd, void* buf, size_t n, uint64_t offset);
  ssize_t (*write_file)(int fd, const void* buf, size_t n);
  int (*close_file)(int fd);
  int (*list_dir)(const char* path, void (*each)(const char* name, void* ctx), void* ctx);
  PmemDevice pmem;
};

// The machine itself. Its memory device opens exactly "/dev/mem" and no other
// path.
extern const Platform kSystemPlatform;

// The platform in force: the system one unless another was put in.
const Platform& platform();
// Puts `p` in force (it must outlive its use); nullptr restores the system one.
void set_platform(const Platform* p);

// A file of the platform in force, closed when it goes out of scope; fd() is
// -1 (errno set) when it could not be opened.
class PlatformFile {
 public:
  explicit PlatformFile(const char* path, int flags = O_RDONLY)
      : fd_(platform().open_file(path, flags)) {}
  ~PlatformFile() {
    if (fd_ >= 0) platform().close_file(fd_);
  }
  PlatformFile(const PlatformFile&) = delete;
  PlatformFile& operator=(const PlatformFile&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

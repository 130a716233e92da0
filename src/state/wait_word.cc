#include "state/wait_word.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <ctime>

namespace {

// The kernel reads the atomic's storage as a plain 32-bit word.
static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
              alignof(std::atomic<uint32_t>) == alignof(uint32_t) &&
              std::atomic<uint32_t>::is_always_lock_free);
// SYS_futex takes the kernel's own timespec of two longs; a 64-bit time_t on
// a 32-bit build would need SYS_futex_time64.
static_assert(sizeof(timespec) == 2 * sizeof(long));

uint32_t* futex_address(const std::atomic<uint32_t>& word) {
  return reinterpret_cast<uint32_t*>(const_cast<std::atomic<uint32_t>*>(&word));
}

}  // namespace

bool word_wait_while(const std::atomic<uint32_t>& word, uint32_t value, int timeout_ms) {
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += timeout_ms / 1000;
  deadline.tv_nsec += (timeout_ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_sec += 1;
    deadline.tv_nsec -= 1000000000L;
  }
  // FUTEX_WAIT_BITSET takes an absolute deadline on the monotonic clock, so
  // spurious wake-ups and interrupted waits simply wait again. EAGAIN: the
  // word changed before the wait began.
  while (word.load() == value) {
    if (syscall(SYS_futex, futex_address(word), FUTEX_WAIT_BITSET_PRIVATE, value, &deadline,
                nullptr, FUTEX_BITSET_MATCH_ANY) != 0 &&
        errno != EINTR && errno != EAGAIN) {
      break;  // the deadline (ETIMEDOUT)
    }
  }
  return word.load() != value;
}

void word_wake_all(std::atomic<uint32_t>& word) {
  const int saved = errno;
  syscall(SYS_futex, futex_address(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
  errno = saved;
}

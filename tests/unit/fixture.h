// The one fixture of the unit tests: every process-wide object back to its
// start value, the platform a fake (clock, sleep, progress clock and end,
// chunk heap, record output, no memory device), logs in a fresh directory and
// the shipped online message table loaded.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// The process-wide objects the fixture resets, and goldens: what every test
// here reads and steers.
#include "common/platform.h"
#include "common/test_inf.h"
#include "files.h"
#include "golden.h"
#include "records.h"
#include "state/memstruct.h"
#include "state/param_block.h"
#include "state/pmem_state.h"
#include "state/process_end.h"

namespace ut {

// 2023-11-14 22:13:20 UTC: far from the epoch, so a time since the epoch shows.
inline constexpr uint64_t kStartSec = 1700000000;

// The fake world behind the platform; tests read and steer it directly.
// A microsecond count that test threads read while the test moves it on.
struct Clock {
  std::atomic<uint64_t> us;
  explicit Clock(uint64_t v) : us(v) {}
  Clock(const Clock& o) : us(o.us.load()) {}
  Clock& operator=(const Clock& o) { return *this = o.us.load(); }
  Clock& operator=(uint64_t v) { return us.store(v), *this; }
  Clock& operator+=(uint64_t d) { return us.fetch_add(d), *this; }
  operator uint64_t() const { return us.load(); }
};

struct World {
  Clock now_us{kStartSec * 1000000};  // wall clock
  uint64_t step_us = 0;               // added after every clock read
  unsigned sleeps = 0;                // seconds slept (each advances the clock)
  // Chunk heap: real blocks, counted; the call numbered fail_at (from 0) fails.
  int chunk_calls = 0, chunk_fail_at = -1;
  std::vector<uint32_t> chunk_sizes;
  std::set<void*> live_chunks;
  std::set<const void*> locked;  // blocks kept in RAM (mlock)
  // Ends of the process asked for (their statuses), and whether the progress
  // thread may claim the end.
  std::vector<int> ends;
  bool claim_result = true;
  std::string output;  // records written so far
  // Files under /proc and /sys by path; a directory is any prefix of a path
  // up to a '/'. open_errors makes an open of that path fail with the errno
  // given; writes lists (path, data) of every write, in order.
  std::map<std::string, std::string> files;
  std::map<std::string, int> open_errors;
  std::vector<std::pair<std::string, std::string>> writes;
};
World& world();
// The platform over that world.
const Platform& fake_platform();

// Program arguments as main gets them: program name first, null last.
class Args {
 public:
  explicit Args(const std::string& words);  // split like a shell, see ts::split_words
  char** argv() { return ptrs_.data(); }
  int argc() const { return static_cast<int>(ptrs_.size()) - 1; }

 private:
  std::vector<std::string> text_;
  std::vector<char*> ptrs_;
};

class MemtestTest : public testing::Test {
 protected:
  void SetUp() override { reset(); }
  void TearDown() override { release(); }
  // Back to a fresh state (table loops call it between rows).
  void reset();
  void release();

  std::vector<ts::Record> records() const;
  std::string output() const;  // the records written so far
  std::string trace_log() const { return ts::read_file(logs_.file("memot_log.0")); }
  std::string debug_log() const { return ts::read_file(logs_.file("memod_log.0")); }

  ts::TempDir logs_;
  Platform platform_;  // in force: the fake one, a test may replace calls in it
};

// "key=value key=value" as a map, laid over base: a table's first row names
// every key of an outcome and later rows only what differs from it (a key the
// base lacks then shows up as a difference).
using KeyValues = std::map<std::string, std::string>;
KeyValues key_values(const std::string& text, KeyValues base = {});

}  // namespace ut

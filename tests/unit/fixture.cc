#include "fixture.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "common/area.h"
#include "common/msgtbl.h"
#include "common/run_findings.h"
#include "common/transmit.h"
#include "driver/cover.h"
#include "progress/progress.h"

namespace ut {
namespace {

World g_world;

std::mutex g_output_mu;  // the progress thread may write records too

void capture(const char* data, size_t len) {
  std::lock_guard<std::mutex> lock(g_output_mu);
  g_world.output.append(data, len);
}

int fake_timeofday(struct timeval* tv) {
  const uint64_t now = g_world.now_us.us.fetch_add(g_world.step_us);
  tv->tv_sec = static_cast<time_t>(now / 1000000);
  tv->tv_usec = static_cast<suseconds_t>(now % 1000000);
  return 0;
}

void fake_sleep(unsigned seconds) {
  g_world.sleeps += seconds;
  g_world.now_us += uint64_t{seconds} * 1000000;
}

void* fake_chunk_alloc(size_t size) {
  if (g_world.chunk_calls++ == g_world.chunk_fail_at) return nullptr;
  void* p = std::malloc(size);
  g_world.chunk_sizes.push_back(static_cast<uint32_t>(size));
  g_world.live_chunks.insert(p);
  return p;
}

void fake_chunk_free(void* p) {
  g_world.live_chunks.erase(p);
  std::free(p);
}

// Open files of the fake tree: descriptor - 1000 indexes the paths.
std::vector<std::string> g_open_paths;
constexpr int kFirstFakeFd = 1000;

const std::string* fake_path(int fd) {
  const size_t i = static_cast<size_t>(fd - kFirstFakeFd);
  if (fd < kFirstFakeFd || i >= g_open_paths.size() || g_open_paths[i].empty()) return nullptr;
  return &g_open_paths[i];
}

int fake_open(const char* path, int) {
  if (auto e = g_world.open_errors.find(path); e != g_world.open_errors.end()) {
    return errno = e->second, -1;
  }
  if (g_world.files.count(path) == 0) return errno = ENOENT, -1;
  g_open_paths.push_back(path);
  return kFirstFakeFd + static_cast<int>(g_open_paths.size()) - 1;
}

ssize_t fake_read_at(int fd, void* buf, size_t n, uint64_t offset) {
  const std::string* path = fake_path(fd);
  if (path == nullptr) return errno = EBADF, -1;
  const std::string& text = g_world.files[*path];
  if (offset >= text.size()) return 0;
  const size_t k = std::min<size_t>(n, text.size() - static_cast<size_t>(offset));
  std::memcpy(buf, text.data() + offset, k);
  return static_cast<ssize_t>(k);
}

ssize_t fake_write(int fd, const void* buf, size_t n) {
  const std::string* path = fake_path(fd);
  if (path == nullptr) return errno = EBADF, -1;
  g_world.writes.emplace_back(*path, std::string(static_cast<const char*>(buf), n));
  return static_cast<ssize_t>(n);
}

int fake_close(int fd) {
  if (fake_path(fd) == nullptr) return errno = EBADF, -1;
  g_open_paths[static_cast<size_t>(fd - kFirstFakeFd)].clear();
  return 0;
}

int fake_list_dir(const char* path, void (*each)(const char* name, void* ctx), void* ctx) {
  if (auto e = g_world.open_errors.find(path); e != g_world.open_errors.end()) {
    return errno = e->second, -1;
  }
  const std::string prefix = std::string(path) + "/";
  std::set<std::string> names;
  for (const auto& [file, text] : g_world.files) {
    if (file.starts_with(prefix))
      names.insert(file.substr(prefix.size(), file.find('/', prefix.size()) - prefix.size()));
  }
  if (names.empty()) return errno = ENOENT, -1;
  for (const std::string& name : names) each(name.c_str(), ctx);
  return 0;
}

Platform make_fake_platform() {
  Platform p = kSystemPlatform;
  p.time_of_day = &fake_timeofday;
  p.time_now = [] { return static_cast<time_t>(g_world.now_us / 1000000); };
  p.sleep_seconds = &fake_sleep;
  p.stamp_time = [](timeval* tv) {
    tv->tv_sec = static_cast<time_t>(g_world.now_us / 1000000);
    tv->tv_usec = static_cast<suseconds_t>(g_world.now_us % 1000000);
  };
  p.chunk_alloc = &fake_chunk_alloc;
  p.chunk_free = &fake_chunk_free;
  // Cover mode's test threads lock chunks side by side.
  p.lock_memory = [](const void* block, size_t) {
    std::lock_guard<std::mutex> lock(g_output_mu);
    return g_world.locked.insert(block), 0;
  };
  p.unlock_memory = [](const void* block, size_t) {
    return g_world.locked.erase(block) == 1 ? 0 : (errno = ENOMEM, -1);
  };
  p.write_record = &capture;
  p.end_process = [](int status) { g_world.ends.push_back(status); };
  p.progress_claim_end = [] { return g_world.claim_result; };
  p.open_file = &fake_open;
  p.read_file_at = &fake_read_at;
  p.write_file = &fake_write;
  p.close_file = &fake_close;
  p.list_dir = &fake_list_dir;
  // No unit test reaches the machine's memory device: a test that does not
  // put a simulated one in sees none.
  p.pmem = {
      [] { return errno = ENOENT, -1; }, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
  return p;
}

void reset_state() {
  set_platform(&fake_platform());
  process_end_clear();
  tp_area_ctl(kAreaFreeAll, 0);
  test_inf_clear();
  param_block_clear();
  run_state_clear();
  pmem_state_clear();
  progress_state_clear();
  findings_clear();
  cover_clear();
}

}  // namespace

World& world() {
  return g_world;
}

const Platform& fake_platform() {
  static const Platform fake = make_fake_platform();
  return fake;
}

Args::Args(const std::string& words) : text_(ts::split_words(words)) {
  text_.insert(text_.begin(), "memtest");
  for (std::string& s : text_) ptrs_.push_back(s.data());
  ptrs_.push_back(nullptr);
}

void MemtestTest::reset() {
  setenv("TZ", "UTC", 1);
  tzset();
  reset_state();
  {
    std::lock_guard<std::mutex> lock(g_output_mu);
    g_world = World{};
  }
  g_open_paths.clear();
  for (const auto& file : std::filesystem::directory_iterator(logs_.path())) {
    std::filesystem::remove_all(file.path());
  }
  transmit_setup("memtest", "MEM");
  platform_ = fake_platform();
  set_platform(&platform_);
  // Runs at level 1 over the one parameter block, as after the start-up.
  Ex_dwTestLevel = 1;
  VykTp2MemStruct.param = &ParamStruct;
  TEST_INF.test_mode = kModeOnline;
  TEST_INF.test_level = 1;
  TEST_INF.log_size_limit = 1 << 24;
  TEST_INF.log_generations = 4;
  TEST_INF.runtime = 0x70000000;
  TEST_INF.test_start_time = static_cast<time_t>(kStartSec);
  std::snprintf(TEST_INF.data_path, sizeof TEST_INF.data_path, "%s/../data",
                ts::test_dir().c_str());
  std::snprintf(TEST_INF.trace_log_base, sizeof TEST_INF.trace_log_base, "%s",
                logs_.file("memot").c_str());
  std::snprintf(TEST_INF.debug_log_base, sizeof TEST_INF.debug_log_base, "%s",
                logs_.file("memod").c_str());
  ASSERT_EQ(tp_area_ctl(kAreaCreate, 1024), 0);
  ASSERT_EQ(get_msgtbl("onl_msge.txt"), 0);
}

void MemtestTest::release() {
  for (void* p : g_world.live_chunks) std::free(p);
  g_world.live_chunks.clear();
  reset_state();  // gives the areas back
}

std::string MemtestTest::output() const {
  std::lock_guard<std::mutex> lock(g_output_mu);
  return g_world.output;
}

std::vector<ts::Record> MemtestTest::records() const {
  std::vector<ts::Record> recs;
  const std::string error = ts::parse_records(output(), &recs);
  EXPECT_EQ(error, "");
  return recs;
}

KeyValues key_values(const std::string& text, KeyValues base) {
  for (const std::string& w : ts::split_words(text)) {
    base[w.substr(0, w.find('='))] = w.substr(w.find('=') + 1);
  }
  return base;
}

}  // namespace ut

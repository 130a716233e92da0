// Fixture and record parser shared by the common library tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/eset.h"
#include "common/logfile.h"
#include "common/test_inf.h"
#include "common/transmit.h"
#include "params/param.h"
#include "state/pmem_state.h"
#include "test_support.h"

namespace commontest {

// 2013/02/07 15:45:12 in UTC.
inline constexpr time_t kStart = 1360251912;

// One protocol record taken apart; parsing checks the length field, the
// 45-byte header and that the line count equals the newlines of the body.
struct Record {
  uint32_t type = 0, lines = 0;
  std::string module, device, body, raw;
};

inline std::vector<Record> parse_records(const std::string& out) {
  std::vector<Record> recs;
  for (size_t pos = 0; pos < out.size();) {
    unsigned len = 0;
    if (out.compare(pos, 7, "ONLPTL,") != 0 || out.size() < pos + 18 || out[pos + 17] != ',' ||
        std::sscanf(out.c_str() + pos + 7, "0x%8x", &len) != 1 || pos + 18 + len > out.size()) {
      ADD_FAILURE() << "bad record at " << pos << ": " << out.substr(pos, 40);
      return recs;
    }
    Record r;
    r.raw = out.substr(pos, 18 + len);
    const std::string rest = r.raw.substr(18);
    pos += 18 + len;
    if (rest.size() < 45 || rest[44] != '\n' || rest.back() != '\n') {
      ADD_FAILURE() << "bad header or end: " << rest;
      return recs;
    }
    std::sscanf(rest.c_str(), "0x%2x,0x%2x,", &r.type, &r.lines);
    r.module = rest.substr(10, 16);
    r.device = rest.substr(27, 16);
    r.body = rest.substr(45);
    EXPECT_EQ(r.lines, std::count(r.body.begin(), r.body.end(), '\n')) << r.raw;
    recs.push_back(r);
  }
  return recs;
}

class CommonTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("TZ", "UTC", 1);
    tzset();
    reset();
  }

  void TearDown() override {
    tp_area_ctl(kAreaFreeAll, 0);
    reset();
  }

  static void reset() {
    test_inf_clear();
    transmit_setup("memtest", "MEM");
    TEST_INF.test_mode = kModeOnline;
    TEST_INF.log_generations = 4;
    TEST_INF.log_size_limit = 131072;
    TEST_INF.runtime = 0x70000000;
    TEST_INF.test_start_time = kStart;
    Ex_pmem_FIND = 0;
    Ex_dwlDebug_MSize = 0;
  }

  // Writes a message table into the temporary directory and loads it.
  int load_table(const std::string& text, const std::string& name = "onl_msge.txt") {
    testsupport::write_file(dir_.file(name), text);
    std::snprintf(TEST_INF.data_path, sizeof TEST_INF.data_path, "%s", dir_.path().c_str());
    if (TEST_INF.area_table == nullptr) tp_area_ctl(kAreaCreate, 1024);
    return get_msgtbl(name.c_str());
  }

  // Points the log families into the temporary directory.
  void use_logs() {
    std::snprintf(TEST_INF.trace_log_base, sizeof TEST_INF.trace_log_base, "%s/memot",
                  dir_.path().c_str());
    std::snprintf(TEST_INF.debug_log_base, sizeof TEST_INF.debug_log_base, "%s/memod",
                  dir_.path().c_str());
  }

  std::string trace_log() const { return testsupport::read_file(dir_.file("memot_log.0")); }
  std::string debug_log() const { return testsupport::read_file(dir_.file("memod_log.0")); }

  testsupport::TempDir dir_;
};

}  // namespace commontest

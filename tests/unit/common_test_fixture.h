// Fixture and record parser shared by the common library tests.
#pragma once

#include <gtest/gtest.h>

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
#include "pmem/pmem.h"
#include "test_support.h"

namespace commontest {

// 2013/02/07 15:45:12 in UTC.
inline constexpr time_t kStart = 1360251912;

// One protocol record taken apart; the parser checks the length field and
// that the line count equals the newlines behind the header.
struct Record {
  uint32_t type = 0;
  uint32_t lines = 0;
  std::string module;
  std::string device;
  std::string body;
  std::string raw;
};

inline std::vector<Record> parse_records(const std::string& out) {
  std::vector<Record> recs;
  size_t pos = 0;
  while (pos < out.size()) {
    if (out.compare(pos, 7, "ONLPTL,") != 0 || out.size() < pos + 18 || out[pos + 17] != ',') {
      ADD_FAILURE() << "bad record start at " << pos << ": " << out.substr(pos, 40);
      return recs;
    }
    unsigned len = 0;
    if (std::sscanf(out.c_str() + pos + 7, "0x%8x", &len) != 1) {
      ADD_FAILURE() << "bad length field at " << pos;
      return recs;
    }
    const size_t start = pos + 18;
    if (start + len > out.size()) {
      ADD_FAILURE() << "length " << len << " runs past the output";
      return recs;
    }
    Record r;
    r.raw = out.substr(pos, 18 + len);
    const std::string rest = out.substr(start, len);
    EXPECT_EQ(rest.back(), '\n') << "record does not end with a newline";
    // Header: "0x%02x,0x%02x,%-16s,%-16s,\n" = 45 bytes.
    if (rest.size() < 45 || rest[44] != '\n') {
      ADD_FAILURE() << "bad header: " << rest;
      return recs;
    }
    std::sscanf(rest.c_str(), "0x%2x,0x%2x,", &r.type, &r.lines);
    r.module = rest.substr(10, 16);
    r.device = rest.substr(27, 16);
    r.body = rest.substr(45);
    size_t newlines = 0;
    for (char c : r.body) newlines += c == '\n';
    EXPECT_EQ(r.lines, newlines) << "line count of record " << r.raw;
    recs.push_back(r);
    pos = start + len;
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

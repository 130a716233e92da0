// Shared by the fuzz targets: a quiet process state before each input, and a
// check of every record the code under test sends.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/area.h"
#include "common/eset.h"
#include "common/logfile.h"
#include "common/platform.h"
#include "common/record_reader.h"
#include "common/test_inf.h"
#include "common/transmit.h"

namespace fz {

// Every record must be whole: its length field, header and line count right
// (the record reader of memtest-view and the tests), and the names in its header free of commas and
// control characters, which would break the header for the reader.
inline void check_record(const char* data, size_t len) {
  std::vector<ProtocolRecord> recs;
  std::string err = read_all_records(std::string_view(data, len), &recs);
  for (const ProtocolRecord& r : recs) {
    for (unsigned char c : r.module + r.device) {
      if (c < 0x20 || c > 0x7e || c == ',') err = "bad header name: " + r.raw.substr(0, 63);
    }
  }
  if (recs.size() != 1 && err.empty()) err = "not one record";
  if (!err.empty()) {
    std::fprintf(stderr, "malformed record: %s\n", err.c_str());
    std::abort();
  }
}

// A process as after the option check, without log directories (nothing is
// written to files) and with records checked instead of printed.
inline void quiet_start() {
  tp_area_ctl(kAreaFreeAll, 0);
  test_inf_clear();
  eset_init();
  tp_area_ctl(kAreaCreate, 1024);
  TEST_INF.test_mode = kModeOnline;
  transmit_setup("memtest", "MEM");
  static Platform checked = kSystemPlatform;
  checked.write_record = &check_record;
  set_platform(&checked);
}

// The input cut at newlines into at most max words (the last one keeps the
// rest): an argument vector behind the program name.
struct Args {
  std::vector<std::string> words;
  std::vector<char*> argv;
  Args(const uint8_t* data, size_t size, size_t max = 64) {
    words.emplace_back("memtest");
    std::string_view in(reinterpret_cast<const char*>(data), size);
    for (size_t pos = 0; pos <= in.size();) {
      const size_t end = words.size() == max ? in.size() : std::min(in.find('\n', pos), in.size());
      words.emplace_back(in.substr(pos, end - pos));
      pos = end + 1;
    }
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(argv.size()) - 1; }
};

}  // namespace fz

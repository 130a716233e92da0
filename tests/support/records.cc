#include "records.h"

#include <algorithm>
#include <iterator>

namespace ts {

std::vector<Record> of_type(const std::vector<Record>& records, unsigned type) {
  std::vector<Record> out;
  std::copy_if(records.begin(), records.end(), std::back_inserter(out),
               [type](const Record& r) { return r.type == type; });
  return out;
}

bool is_running_progress(const Record& r) {
  Progress p;
  return parse_progress(r, &p) && p.state == 1 &&
         (p.text.empty() || (p.text.find(" Pass=") != std::string::npos && p.text.ends_with(">>")));
}

std::string without_running_progress(const std::vector<Record>& records) {
  std::string out;
  for (size_t i = 0; i < records.size(); ++i) {
    if (i == 0 || !is_running_progress(records[i])) out += records[i].raw;
  }
  return out;
}

}  // namespace ts

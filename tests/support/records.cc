#include "records.h"

namespace ts {

std::string parse_records(std::string_view out, std::vector<Record>* records) {
  return read_all_records(out, records);
}

std::vector<Record> of_type(const std::vector<Record>& records, unsigned type) {
  std::vector<Record> out;
  for (const Record& r : records) {
    if (r.type == type) out.push_back(r);
  }
  return out;
}

bool is_running_progress(const Record& r) {
  Progress p;
  if (!parse_progress(r, &p) || p.state != 1) return false;
  const size_t pass = p.text.rfind(" Pass=");
  return pass != std::string::npos && p.text.size() > 2 &&
         p.text.compare(p.text.size() - 2, 2, ">>") == 0;
}

std::string without_running_progress(const std::vector<Record>& records) {
  std::string out;
  for (size_t i = 0; i < records.size(); ++i) {
    if (i == 0 || !is_running_progress(records[i])) out += records[i].raw;
  }
  return out;
}

}  // namespace ts

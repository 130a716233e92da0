#include "records.h"

#include <algorithm>
#include <cstdio>

namespace ts {

std::string parse_records(std::string_view out, std::vector<Record>* records) {
  constexpr size_t kPrefix = 18;  // "ONLPTL,0x%08x,"
  constexpr size_t kHeader = 45;  // "0x%02x,0x%02x,%-16s,%-16s,\n"
  for (size_t pos = 0; pos < out.size();) {
    auto bad = [&](const char* what) {
      return std::string(what) + " at byte " + std::to_string(pos) + ": " +
             std::string(out.substr(pos, 60));
    };
    unsigned len = 0;
    if (out.substr(pos, 9) != "ONLPTL,0x" || out.size() < pos + kPrefix ||
        out[pos + kPrefix - 1] != ',' ||
        std::sscanf(std::string(out.substr(pos + 9, 8)).c_str(), "%8x", &len) != 1) {
      return bad("no record start");
    }
    if (pos + kPrefix + len > out.size()) return bad("length beyond the output");
    Record r;
    r.raw = out.substr(pos, kPrefix + len);
    const std::string rest = r.raw.substr(kPrefix);
    if (rest.size() <= kHeader || rest[kHeader - 1] != '\n' || rest[kHeader - 2] != ',' ||
        rest.back() != '\n' || std::sscanf(rest.c_str(), "0x%2x,0x%2x,", &r.type, &r.lines) != 2) {
      return bad("bad header or record end");
    }
    r.module = rest.substr(10, 16);
    r.device = rest.substr(27, 16);
    r.body = rest.substr(kHeader);
    if (r.lines != static_cast<unsigned>(std::count(r.body.begin(), r.body.end(), '\n'))) {
      return bad("line count differs from the body");
    }
    records->push_back(std::move(r));
    pos += kPrefix + len;
  }
  return "";
}

bool parse_progress(const Record& r, Progress* p) {
  int n = 0;
  if (r.type != 3 || std::sscanf(r.body.c_str(), "0x%8x,0x%8x,0x%x,0x%x,%n", &p->elapsed,
                                 &p->second, &p->percent, &p->state, &n) != 4) {
    return false;
  }
  p->text = r.body.substr(n, r.body.size() - n - 1);
  return true;
}

bool parse_status(const Record& r, Status* s) {
  int n = 0;
  if (r.type != 2 || std::sscanf(r.body.c_str(), "0x%2x,0x%2x,0x%8x,%n", &s->status, &s->flags,
                                 &s->value, &n) != 3) {
    return false;
  }
  s->text = r.body.substr(n, r.body.size() - n - 1);
  return true;
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

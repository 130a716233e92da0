#include "physmem_sim.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace physmem {
namespace {

bool number(const std::string& s, size_t* at, uint64_t* out) {
  char* end = nullptr;
  *out = std::strtoull(s.c_str() + *at, &end, 0);
  if (end == s.c_str() + *at) return false;
  const std::string units = "KMG";
  const size_t unit = *end != '\0' ? units.find(*end) : std::string::npos;
  if (unit != std::string::npos) *out <<= 10 * (unit + 1), ++end;
  *at = static_cast<size_t>(end - s.c_str());
  return true;
}

// Reads the numbers of `value` separated by the characters of `seps`.
bool numbers(const std::string& value, const std::string& seps, std::vector<uint64_t>* out) {
  size_t at = 0;
  for (char sep : seps + '\0') {
    uint64_t v = 0;
    if (!number(value, &at, &v) || value.c_str()[at] != sep) return false;
    out->push_back(v), ++at;
  }
  return true;
}

bool inside(const std::vector<Range>& ranges, uint64_t a) {
  return std::any_of(ranges.begin(), ranges.end(),
                     [a](const Range& r) { return a >= r.first && a < r.second; });
}

}  // namespace

std::string parse(std::string text, Map* map) {
  std::replace(text.begin(), text.end(), ',', ' ');
  std::istringstream in(text);
  for (std::string word; in >> word;) {
    const std::string key = word.substr(0, word.find('='));
    const std::string value = key.size() < word.size() ? word.substr(key.size() + 1) : "";
    const std::string seps = key == "stripes"                       ? "+x/"
                             : value.find('-') != std::string::npos ? "-"
                                                                    : "";
    std::vector<uint64_t> n;
    if (word == "open=fail" || word == "allocfail") {
      (word == "allocfail" ? map->alloc_fails : map->open_fails) = true;
    } else if (!numbers(value, seps, &n)) {
      return "bad map word: " + word;
    } else if (key == "ram" || key == "delay" || key == "aslimit") {
      (key == "ram" ? map->ram_end : key == "delay" ? map->delay_ms : map->as_limit) = n[0];
    } else if (key == "stripes") {
      for (uint64_t i = 0; i < n[1]; ++i)
        map->readable.push_back({n[0] + i * n[3], n[0] + i * n[3] + n[2]});
    } else if (n.size() == 2 && (key == "read" || key == "hole" || key == "seekfail")) {
      (key == "read"   ? map->readable
       : key == "hole" ? map->holes
                       : map->seek_fails)
          .push_back({n[0], n[1]});
    } else {
      return "bad map word: " + word;
    }
  }
  std::sort(map->readable.begin(), map->readable.end());
  for (const Range& r : map->readable) map->ram_end = std::max(map->ram_end, r.second);
  return "";
}

int64_t Device::seek(uint64_t to) {
  if (inside(map.seek_fails, to)) return errno = EINVAL, -1;
  pos = to;
  return static_cast<int64_t>(to);
}

ssize_t Device::read(size_t n) {
  const uint64_t end = pos + n;
  if (end > map.ram_end) return errno = EFAULT, -1;
  // The readable range that holds pos, if any; the read must end inside it.
  auto it = std::upper_bound(map.readable.begin(), map.readable.end(), Range{pos, UINT64_MAX});
  const bool in_range = it != map.readable.begin() && pos < (--it)->second;
  if (!in_range || end > it->second) {
    const uint64_t first_bad = in_range ? it->second : pos;
    return errno = inside(map.holes, first_bad) ? EFAULT : EPERM, -1;
  }
  if (n > 4096 && map.delay_ms > 0) {
    timespec ts{static_cast<time_t>(map.delay_ms / 1000),
                static_cast<long>(map.delay_ms % 1000) * 1000000};
    nanosleep(&ts, nullptr);
  }
  if (n == 512) block_starts.push_back(pos);
  pos = end;
  bytes += n;
  return static_cast<ssize_t>(n);
}

}  // namespace physmem

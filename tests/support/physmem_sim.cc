#include "physmem_sim.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <string_view>

namespace physmem {
namespace {

// The numbers of a map value: separated by one character, each in C notation
// with an optional K, M or G. Empty when one is not a number.
std::vector<uint64_t> numbers(const char* p) {
  std::vector<uint64_t> out;
  for (char* end = nullptr; *p != '\0'; p = *end != '\0' ? end + 1 : end) {
    out.push_back(std::strtoull(p, &end, 0));
    if (end == p) return {};
    const size_t unit = std::string_view("KMG").find(*end);
    if (unit != std::string_view::npos) out.back() <<= 10 * (unit + 1), ++end;
  }
  return out;
}

}  // namespace

std::string parse(std::string text, Map* map) {
  std::replace(text.begin(), text.end(), ',', ' ');
  std::istringstream in(text);
  for (std::string word; in >> word;) {
    const std::string key = word.substr(0, word.find('='));
    const std::vector<uint64_t> n = numbers(word.c_str() + std::min(word.size(), key.size() + 1));
    if (word == "open=fail" || word == "allocfail") {
      (word == "allocfail" ? map->alloc_fails : map->open_fails) = true;
    } else if (n.size() == 1 && (key == "ram" || key == "delay" || key == "aslimit")) {
      (key == "ram" ? map->ram_end : key == "delay" ? map->delay_ms : map->as_limit) = n[0];
    } else if (n.size() == 4 && key == "stripes") {
      for (uint64_t i = 0, s = n[0]; i < n[1]; ++i, s += n[3])
        map->readable.push_back({s, s + n[2]});
    } else if (n.size() == 2 && (key == "read" || key == "seekfail")) {
      (key == "read" ? map->readable : map->seek_fails).push_back({n[0], n[1]});
    } else {
      return "bad map word: " + word;
    }
  }
  std::sort(map->readable.begin(), map->readable.end());
  for (const Range& r : map->readable) map->ram_end = std::max(map->ram_end, r.second);
  return "";
}

int64_t Device::seek(uint64_t to) {
  const auto holds = [to](const Range& r) { return to >= r.first && to < r.second; };
  if (std::ranges::any_of(map.seek_fails, holds)) return errno = EINVAL, -1;
  return static_cast<int64_t>(pos = to);
}

ssize_t Device::read(size_t n) {
  // The readable range that holds pos, if any: the read must end inside it.
  const uint64_t end = pos + n;
  auto it = std::upper_bound(map.readable.begin(), map.readable.end(), Range{pos, UINT64_MAX});
  const bool in = it != map.readable.begin() && pos < (--it)->second;
  if (end > map.ram_end || !in || end > it->second) {
    return errno = end > map.ram_end ? EFAULT : EPERM, -1;
  }
  const long ms = static_cast<long>(map.delay_ms);
  const timespec delay{ms / 1000, ms % 1000 * 1000000};
  if (n > 4096) nanosleep(&delay, nullptr);
  if (n == 512) block_starts.push_back(pos);
  pos = end;
  return static_cast<ssize_t>(n);
}

}  // namespace physmem

#include "golden.h"

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "files.h"

namespace ts {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) lines.push_back(line);
  if (!text.empty() && text.back() != '\n') lines.back() += "<no newline at end>";
  return lines;
}

std::string regex_escape(const std::string& s) {
  static const std::regex kSpecial(R"([\\^$.|?*+()\[\]{}])");
  return std::regex_replace(s, kSpecial, "\\$&");
}

const std::pair<const char*, const char*> kNamed[] = {
    {"date", R"(20\d\d/\d\d/\d\d \d\d:\d\d:\d\d)"},
    {"stamp", R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d \d{3}\.\d{3})"},
    {"tmpdir", R"(/tmp/memtest_test\.[A-Za-z0-9]{6})"},
};

bool line_matches(const std::string& pattern, const std::string& actual) {
  if (pattern.find("{{") == std::string::npos) return pattern == actual;
  std::string re;
  size_t pos = 0;
  for (size_t open; (open = pattern.find("{{", pos)) != std::string::npos;) {
    size_t close = pattern.find("}}", open + 2);
    if (close == std::string::npos) break;
    while (close + 2 < pattern.size() && pattern[close + 2] == '}') ++close;  // "{8}}}"
    std::string part = pattern.substr(open + 2, close - open - 2);
    for (const auto& [name, regex] : kNamed) {
      if (part == name) part = regex;
    }
    re += regex_escape(pattern.substr(pos, open - pos)) + "(?:" + part + ")";
    pos = close + 2;
  }
  re += regex_escape(pattern.substr(pos));
  return std::regex_match(actual, std::regex(re));
}

}  // namespace

bool matches_pattern(const std::string& pattern, const std::string& actual, std::string* why) {
  const auto want = lines_of(pattern);
  const auto got = lines_of(actual);
  for (size_t i = 0; i < std::max(want.size(), got.size()); ++i) {
    const std::string w = i < want.size() ? want[i] : "<end of text>";
    const std::string g = i < got.size() ? got[i] : "<end of text>";
    if (w == "<end of text>" || g == "<end of text>" || !line_matches(w, g)) {
      *why = "line " + std::to_string(i + 1) + "\n  expected: " + w + "\n  actual:   " + g;
      return false;
    }
  }
  return true;
}

testing::AssertionResult matches_golden(const std::string& name, const std::string& actual) {
  const std::string path = test_dir() + "/golden/" + name;
  std::string why = "the start: no golden file " + path;
  if (std::filesystem::exists(path) && matches_pattern(read_file(path), actual, &why)) {
    return testing::AssertionSuccess();
  }
  if (const char* bless = std::getenv("MEMTEST_BLESS"); bless && std::string(bless) == "1") {
    std::string masked = actual;
    for (const auto& [part, regex] : kNamed) {
      masked = std::regex_replace(masked, std::regex(regex), std::string("{{") + part + "}}");
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    write_file(path, masked);
  }
  return testing::AssertionFailure() << name << " differs at " << why << "\n--- actual text ---\n"
                                     << actual << "---";
}

}  // namespace ts

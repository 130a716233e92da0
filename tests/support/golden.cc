#include "golden.h"

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>

#include "files.h"

namespace ts {
namespace {

// The lines of a text, then "<end of text>"; a last line without its
// newline is marked, so that the newline counts.
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  if (!text.empty() && text.back() != '\n') lines.back() += "<no newline at end>";
  lines.push_back("<end of text>");
  return lines;
}

const std::pair<const char*, const char*> kNamed[] = {
    {"date", R"(20\d\d/\d\d/\d\d \d\d:\d\d:\d\d)"},
    {"stamp", R"(\d\d/\d\d/\d\d \d\d:\d\d:\d\d \d{3}\.\d{3})"},
    {"tmpdir", R"(/tmp/memtest_test\.[A-Za-z0-9]{6})"},
};

// A part ends at the last two braces of a run, so "{{x{8}}}" holds "x{8}".
bool line_matches(const std::string& pattern, const std::string& actual) {
  if (pattern.find("{{") == std::string::npos) return pattern == actual;
  static const std::regex kPart(R"(\{\{(.*?)\}\}(?!\}))"), kSpecial(R"([\\^$.|?*+()\[\]{}])");
  std::string re, rest = pattern;
  for (std::smatch m; std::regex_search(rest, m, kPart); rest = m.suffix()) {
    std::string part = m[1];
    for (const auto& [name, regex] : kNamed) part = part == name ? regex : part;
    re += std::regex_replace(m.prefix().str(), kSpecial, "\\$&") + "(?:" + part + ")";
  }
  return std::regex_match(actual, std::regex(re + std::regex_replace(rest, kSpecial, "\\$&")));
}

}  // namespace

testing::AssertionResult matches_golden(const std::string& name, const std::string& actual) {
  const std::string path = test_dir() + "/golden/" + name;
  const bool found = std::filesystem::exists(path);
  const auto want = lines_of(read_file(path)), got = lines_of(actual);
  size_t i = 0;
  while (i < want.size() && i < got.size() && line_matches(want[i], got[i])) ++i;
  if (found && i == want.size() && i == got.size()) return testing::AssertionSuccess();
  if (const char* bless = std::getenv("MEMTEST_BLESS"); bless && std::string(bless) == "1") {
    std::string masked = actual;
    for (const auto& [part, regex] : kNamed) {
      masked = std::regex_replace(masked, std::regex(regex), std::string("{{") + part + "}}");
    }
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    write_file(path, masked);
  }
  i = std::min({i, want.size() - 1, got.size() - 1});
  return testing::AssertionFailure()
         << name << (found ? "" : " (no golden file)") << " differs at line " << i + 1
         << "\n  expected: " << want[i] << "\n  actual:   " << got[i] << "\n--- actual text ---\n"
         << actual << "---";
}

}  // namespace ts

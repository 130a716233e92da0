// The keywords memtest(1) and the usage text list against the parser's own
// tables, so that the documents cannot drift from what the parser takes.
#include <algorithm>
#include <cctype>
#include <regex>
#include <set>
#include <sstream>

#include "common/run_findings.h"
#include "driver/cover.h"
#include "driver/usage.h"
#include "fixture.h"
#include "params/parse_param.h"
#include "params/tp_window.h"

namespace {

std::string lower(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return out;
}

// The keywords the parser takes, and those read from the program arguments
// beside it (their names without the dash).
std::set<std::string> parser_keywords() {
  std::set<std::string> names{kCoverKeyword + 1, kThreadsKeyword + 1, kOfflineKeyword + 1};
  for (size_t i = 0; !memtest_params::keyword_name(i).empty(); ++i)
    names.insert(lower(memtest_params::keyword_name(i)));
  return names;
}

std::set<std::string> tp_words() {
  std::set<std::string> names;
  for (size_t i = 0; !memtest_params::tp_word_name(i).empty(); ++i)
    names.insert(std::string(memtest_params::tp_word_name(i)));
  return names;
}

// What the page lists: the option name of each entry tag (the line after
// ".TP") in OPTIONS and in KEYWORDS, and the words of the -tp tag, an
// algorithm's X form counted as the algorithm.
struct Page {
  std::set<std::string> options, keywords, tp;
};

Page read_page() {
  Page page;
  const std::set<std::string> words = tp_words();
  std::istringstream in(ts::read_file(ts::test_dir() + "/../docs/man/memtest.1"));
  const std::regex option(R"(\\-([A-Za-z]+))"), word("[A-Z]+");
  std::string section, line;
  for (bool tag = false; std::getline(in, line); tag = line == ".TP") {
    if (line.starts_with(".SH ")) section = line.substr(4);
    std::smatch m;
    if (!tag || (section != "OPTIONS" && section != "KEYWORDS") ||
        !std::regex_search(line, m, option))
      continue;
    (section == "OPTIONS" ? page.options : page.keywords).insert(lower(m[1].str()));
    if (m[1] != "tp") continue;
    const std::string rest = m.suffix();
    for (std::sregex_iterator w(rest.begin(), rest.end(), word), end; w != end; ++w) {
      const std::string stem = w->str().substr(0, w->length() - 1);
      page.tp.insert(w->str().ends_with('X') && words.count(stem) ? stem : w->str());
    }
  }
  return page;
}

class ManualPage : public ut::MemtestTest {};

TEST_F(ManualPage, ListsTheParsersKeywords) {
  const Page page = read_page();
  const std::set<std::string> parser = parser_keywords();
  for (const std::string& k : page.keywords)
    EXPECT_TRUE(parser.count(k)) << "memtest(1) lists -" << k << ", which the parser lacks";
  // LV and RUNTIME are common options too, and listed there.
  for (const std::string& k : parser)
    EXPECT_TRUE(page.keywords.count(k) || page.options.count(k)) << "memtest(1) lacks -" << k;
  EXPECT_EQ(page.tp, tp_words());
  EXPECT_EQ(ts::read_file(ts::test_dir() + "/../docs/man/memtest.1").find("not in this build"),
            std::string::npos);
}

TEST_F(ManualPage, UsageTextNamesEveryKeyword) {
  const std::string usage = kUsageText;
  for (const std::string& k : parser_keywords())
    EXPECT_NE(usage.find("  -" + k + " "), std::string::npos) << "-" << k;
  for (const std::string& w : tp_words()) EXPECT_NE(usage.find(w), std::string::npos) << w;
}

}  // namespace

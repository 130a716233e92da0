#include "files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <utility>

namespace ts {
namespace {

std::string trim(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t");
  return b == std::string::npos ? "" : s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Calls fn(line number, trimmed line) for every line that is not blank or a
// comment.
template <typename Fn>
void for_lines(const std::string& name, Fn fn) {
  std::istringstream in(read_file(test_dir() + "/" + name));
  std::string line;
  for (int n = 1; std::getline(in, line); ++n) {
    if (!trim(line).empty() && trim(line)[0] != '#') fn(name + ":" + std::to_string(n), line);
  }
}

// The character an escape "\c" stands for.
char escaped(char c) {
  return c == 'n' ? '\n' : c == 't' ? '\t' : c == 'e' ? '\x1b' : c;
}

}  // namespace

std::string test_dir() {
  return MEMTEST_TEST_DIR;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/memtest_test.XXXXXX";
  path_ = mkdtemp(tmpl) ? tmpl : "/nonexistent";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<Row> read_table(const std::string& name, size_t ncols) {
  std::vector<Row> rows;
  for_lines(name, [&](const std::string& where, const std::string& line) {
    Row row{where, {}, ""};
    size_t pos = 0;
    for (size_t bar; (bar = line.find(" | ", pos)) != std::string::npos; pos = bar + 3) {
      row.cols.push_back(trim(line.substr(pos, bar - pos)));
    }
    row.cols.push_back(trim(line.substr(pos)));
    if (row.cols.size() == ncols) {
      rows.push_back(row);
    } else {
      ADD_FAILURE() << where << ": " << row.cols.size() << " columns, want " << ncols;
    }
  });
  if (rows.empty()) ADD_FAILURE() << "no rows in " << name;
  return rows;
}

std::vector<Row> read_table_over(const std::string& name, size_t ncols, size_t base_col) {
  std::vector<Row> rows = read_table(name, ncols);
  for (Row& row : rows) row.given = rows.front()[base_col];
  return rows;
}

std::string Block::get(const std::string& key, const std::string& fallback) const {
  const auto values = all(key);
  return values.empty() ? fallback : values.front();
}

std::vector<std::string> Block::all(const std::string& key) const {
  std::vector<std::string> out;
  for (const auto& [k, v] : entries) {
    if (k == key) out.push_back(v);
  }
  return out;
}

std::string row_id(const Row& r) {
  return "line_" + r.where.substr(r.where.rfind(':') + 1);
}

std::string block_id(const Block& b) {
  return std::regex_replace(b.name, std::regex("[^A-Za-z0-9]+"), "_");
}

std::vector<Block> read_blocks(const std::string& name) {
  std::vector<Block> blocks;
  for_lines(name, [&](const std::string& where, const std::string& line) {
    const size_t colon = line.find(':');
    if (line.rfind("== ", 0) == 0) {
      blocks.push_back(Block{trim(line.substr(3)), where, {}});
    } else if (blocks.empty() || colon == std::string::npos) {
      ADD_FAILURE() << where << ": not a 'key: value' line in a block";
    } else {
      blocks.back().entries.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
  });
  if (blocks.empty()) ADD_FAILURE() << "no blocks in " << name;
  return blocks;
}

std::vector<std::string> split_words(std::string_view text) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false, quoted = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if ((c == ' ' || c == '\t') && !quoted) {
      if (in_word) words.push_back(std::exchange(word, {}));
      in_word = false;
      continue;
    }
    in_word = true;
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && i + 1 < text.size()) {
      word += escaped(text[++i]);
    } else {
      word += c;
    }
  }
  if (in_word) words.push_back(word);
  return words;
}

std::string expand(std::string s) {
  static const std::regex kPart(R"(\{(\\.|[^\\])\*(\d+)\}|\\x([0-9a-f]{2}))");
  for (std::smatch m; std::regex_search(s, m, kPart);) {
    std::string part = m[3].matched ? std::string(1, char(std::stoi(m[3], nullptr, 16))) : "";
    for (size_t i = m[3].matched ? 0 : std::stoul(m[2]); i > 0; --i) part += m.str(1);
    s.replace(m.position(), m.length(), part);
  }
  return s;
}

std::string unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i)
    out += s[i] == '\\' && i + 1 < s.size() ? escaped(s[++i]) : s[i];
  return out;
}

std::string substitute(std::string text, const std::string& name, const std::string& value) {
  const std::string key = "$" + name;
  for (size_t pos = 0; (pos = text.find(key, pos)) != std::string::npos; pos += value.size()) {
    text.replace(pos, key.size(), value);
  }
  return text;
}

}  // namespace ts

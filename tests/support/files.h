// Files, temporary directories and data tables of the tests.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ts {

// The tests/ folder of the source tree.
std::string test_dir();

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

// A fresh directory under /tmp, removed with its files at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// One row of a data table: its line in the file and its columns.
struct Row {
  std::string where;  // "file:line", for failure messages
  std::vector<std::string> cols;
  // What the table gives every row besides its own columns: the prelude of a
  // call table, or the outcome of the first row, which later rows name their
  // differences from.
  std::string given;
  const std::string& operator[](size_t i) const { return cols.at(i); }
};
// Reads tests/<name>: one row per line, columns separated by " | ", blanks
// around each column trimmed; blank lines and lines starting with '#' are
// skipped. Every row must have ncols columns.
std::vector<Row> read_table(const std::string& name, size_t ncols);
// The same, every row given the first row's column base_col.
std::vector<Row> read_table_over(const std::string& name, size_t ncols, size_t base_col);
// "line_N": the name of a row's test, after its line in the table.
std::string row_id(const Row& r);
inline void PrintTo(const Row& r, std::ostream* os) {
  *os << r.where;
}

// A block of "key: value" lines; a table of blocks is separated by lines
// that start with "== ", which name the block.
struct Block {
  std::string name, where;
  std::vector<std::pair<std::string, std::string>> entries;
  std::string get(const std::string& key, const std::string& fallback = "") const;
  std::vector<std::string> all(const std::string& key) const;
};
std::vector<Block> read_blocks(const std::string& name);
// A block's name with every run of other characters than letters and digits
// made one "_": its test's name, and the name of its golden file.
std::string block_id(const Block& b);
// How GoogleTest names a block that is a test parameter.
inline void PrintTo(const Block& b, std::ostream* os) {
  *os << b.where;
}

// Splits on blanks; "double quotes" keep blanks inside a word (the quotes
// are dropped) and a backslash starts an escape as in unescape.
std::vector<std::string> split_words(std::string_view text);
// printf of integers into a string: each is passed as unsigned long long,
// so the format writes %llu, %llx, %08llx, ...
template <typename... T>
std::string format(const char* fmt, T... v) {
  char text[512];
  std::snprintf(text, sizeof text, fmt, static_cast<unsigned long long>(v)...);
  return text;
}
// "{c*N}" stands for N times c (a character or an escape such as "\n", kept
// as it is) and "\xHH" for that byte.
std::string expand(std::string s);
// "\n" is a newline, "\t" a tab, "\e" an ESC; a backslash keeps the next
// character as it is ("\\" a backslash).
std::string unescape(const std::string& s);
// Replaces every "$NAME" in text by value.
std::string substitute(std::string text, const std::string& name, const std::string& value);

}  // namespace ts

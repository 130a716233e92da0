// The message table: texts looked up by letter and two-digit number.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/logfile.h"
#include "common/test_inf.h"

namespace {

constexpr int kMaxLines = 10000;
constexpr int kLineRead = 511;  // up to 510 characters per read
constexpr size_t kPathSize = 517;
constexpr size_t kTextStart = 9;  // number in 1..5, three separators, text
constexpr size_t kMaxText = sizeof(MsgEntry::text) - 1;

struct File {
  FILE* f;
  explicit File(const char* path) : f(std::fopen(path, "r")) {}
  ~File() {
    if (f != nullptr) std::fclose(f);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
};

// Reads the next piece of a line into a zero-filled buffer; false at the end.
bool read_line(FILE* f, char* line) {
  std::memset(line, 0, kLineRead + 1);
  return std::fgets(line, kLineRead, f) != nullptr && line[0] != '\0';
}

// Fills entry from an entry line. Lines whose text cannot be held whole are
// skipped rather than cut: a cut format could end inside a conversion.
bool parse_entry(std::string_view line, MsgEntry* entry) {
  size_t last = line.rfind('"');
  if (last == std::string_view::npos || last < kTextStart) return false;
  std::string_view text = line.substr(kTextStart, last - kTextStart);
  if (text.size() > kMaxText) return false;
  std::memset(entry, 0, sizeof *entry);
  std::memcpy(entry->msgno, line.data() + 1, 5);
  std::memcpy(entry->text, text.data(), text.size());
  return true;
}

bool same_char(char a, char b) {
  return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
}

void open_error(const char* path) {
  char err[128];
  printfx(0x100D, "get_msgtbl()  fopen error%s, %s \n", path,
          sys_error_text(errno, err, sizeof err));
}

}  // namespace

int get_msgtbl(const char* file_name) {
  char path[kPathSize];
  std::snprintf(path, sizeof path, "%s/%s", TEST_INF.data_path, file_name ? file_name : "");
  char line[kLineRead + 1];

  uint32_t count = 0;
  {
    File in(path);
    if (in.f == nullptr) {
      open_error(path);
      return -1;
    }
    int lines = 0;
    while (lines < kMaxLines && read_line(in.f, line)) {
      ++lines;
      if (line[0] == '"') ++count;
    }
    if (lines >= kMaxLines || count == 0) {
      printfx(0x100D, "get_msgtbl()  i=10000 or line 0 error\n");
      return -1;
    }
  }

  intptr_t block = tp_area_ctl(kAreaAlloc, count * sizeof(MsgEntry));
  if (block == 0 || block == -1) {
    printfx(0x100D, "get_msgtbl()  MEM_GET error\n");
    return -1;
  }
  auto* table = reinterpret_cast<MsgEntry*>(block);
  std::memset(table, 0, count * sizeof(MsgEntry));

  uint32_t stored = 0;
  {
    File in(path);
    if (in.f == nullptr) {
      open_error(path);
      tp_area_ctl(kAreaFree, static_cast<uintptr_t>(block));
      return -1;
    }
    int lines = 0;
    while (lines < kMaxLines && stored < count && read_line(in.f, line)) {
      ++lines;
      if (line[0] != '"') continue;
      if (parse_entry(line, &table[stored])) ++stored;
    }
  }
  TEST_INF.msgtbl = table;
  TEST_INF.msgtbl_count = stored;

  for (uint32_t i = 0; i < stored; ++i) {
    printfx(0x1008, "%s %s\n", table[i].msgno, table[i].text);
  }
  return 0;
}

const char* cv_msgno2fmt(const char* msgno) {
  if (msgno == nullptr || std::strlen(msgno) != 5 || TEST_INF.msgtbl == nullptr) return nullptr;
  for (uint32_t i = 0; i < TEST_INF.msgtbl_count; ++i) {
    const char* n = TEST_INF.msgtbl[i].msgno;
    if (same_char(n[0], msgno[0]) && same_char(n[3], msgno[3]) && same_char(n[4], msgno[4])) {
      return TEST_INF.msgtbl[i].text;
    }
  }
  return nullptr;
}

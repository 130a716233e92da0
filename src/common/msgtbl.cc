// The message table: texts looked up by letter and two-digit number. The
// texts are formats for the calls that issue them, and the table file comes
// from outside the program: every text is checked against the arguments its
// calls pass before it is taken.
#include "common/msgtbl.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "common/area.h"
#include "common/logfile.h"
#include "common/test_inf.h"

namespace {

constexpr int kMaxLines = 10000;
constexpr int kLineRead = 511;  // up to 510 characters per read
constexpr size_t kPathSize = 517;
constexpr size_t kTextStart = 9;  // number in 1..5, three separators, text
constexpr size_t kMaxText = sizeof(MsgEntry::text) - 1;

// Every message number the module issues through the table, with the
// arguments its calls pass (letters as for msg_signature). A call that
// changes its arguments changes its row here.
struct MsgSignature {
  const char* msgno;
  const char* args;
};
constexpr MsgSignature kMsgSignatures[] = {
    {"Ixx07", "s"},     {"Ixx08", "s"},       {"Ixx09", "s"},  {"Ixx56", "ss"},
    {"Ixx57", "sspsu"}, {"Ixx59", "uL"},      {"Ixx90", "s"},  {"Wxx57", "ssuus"},
    {"Exx55", "s"},     {"Exx56", "sluuuuu"}, {"Exx57", "sl"}, {"Exx58", "sus"},
    {"Exx59", "s"},     {"Exx90", "s"},       {"Exx91", "s"},  {"Exx99", "s"},
};

// The table file, taken only when it is a regular file or a directory: a FIFO
// or a device named as the table would block the start or never end. A
// directory opens and reads nothing, as fopen and fgets give it, so it ends as
// a table without entries. O_NONBLOCK makes the open itself return at once for
// a FIFO without a writer.
struct File {
  FILE* f = nullptr;
  const char* refused = nullptr;  // why a file that opened was not taken
  explicit File(const char* path) {
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat64 st {};
    if (fstat64(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))) {
      refused = "Not a regular file";
    } else {
      f = fdopen(fd, "r");
    }
    if (f == nullptr) ::close(fd);
  }
  ~File() {
    if (f != nullptr) std::fclose(f);
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
};

// Reads the table piece by piece (at most 510 characters per read into a
// zero-filled buffer); false at the end. Only a piece that begins a line can
// be an entry: the rest of a long comment line that happens to begin with a
// double quote is not one.
struct LineReader {
  FILE* f;
  bool at_line_start = true;
  bool next(char* line, bool* entry) {
    std::memset(line, 0, kLineRead + 1);
    if (std::fgets(line, kLineRead, f) == nullptr || line[0] == '\0') return false;
    *entry = at_line_start && line[0] == '"';
    at_line_start = std::memchr(line, '\n', kLineRead) != nullptr;
    return true;
  }
};

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

// Message numbers match by their letter and last two digits.
bool same_number(const char* a, const char* b) {
  return same_char(a[0], b[0]) && same_char(a[3], b[3]) && same_char(a[4], b[4]);
}

void open_error(const char* path, const File& in) {
  char err[128];
  printfx(kPfTraceText | kPfLogRecord1, "get_msgtbl()  fopen error%s, %s \n", path,
          in.refused != nullptr ? in.refused : sys_error_text(errno, err, sizeof err));
}

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

// Skips a width or precision; false when it has more than four digits.
// Widths such as %-112s are legal in a table, and the callers' limits (510
// characters formatted, 112 logged, 75 in an action line) already cut what
// they produce; four digits keep the cost of formatting bounded too: some ten
// thousand characters counted per conversion, in a text of at most 80.
bool skip_number(std::string_view t, size_t* i) {
  size_t digits = 0;
  for (; *i < t.size() && is_digit(t[*i]); ++*i) ++digits;
  return digits <= 4;
}

// Whether the conversion conv with the length modifier length reads an
// argument of the kind arg. Nothing fits %n, '*' or a positional '$'.
bool conversion_fits(char arg, std::string_view length, char conv) {
  const bool integer = std::string_view("diouxX").find(conv) != std::string_view::npos;
  switch (arg) {
    case 's':
      return length.empty() && conv == 's';
    case 'p':
      return length.empty() && conv == 'p';
    case 'u':
      return length.empty() && (integer || conv == 'c');
    case 'l':
      return length == "l" && integer;
    case 'L':
      return length == "ll" && integer;
    default:
      return false;
  }
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
      open_error(path, in);
      return -1;
    }
    LineReader reader{in.f};
    int lines = 0;
    for (bool entry = false; lines < kMaxLines && reader.next(line, &entry);) {
      ++lines;
      if (entry) ++count;
    }
    if (lines >= kMaxLines || count == 0) {
      printfx(kPfTraceText | kPfLogRecord1, "get_msgtbl()  i=10000 or line 0 error\n");
      return -1;
    }
  }

  intptr_t block = tp_area_ctl(kAreaAlloc, count * sizeof(MsgEntry));
  if (block == 0 || block == -1) {
    printfx(kPfTraceText | kPfLogRecord1, "get_msgtbl()  MEM_GET error\n");
    return -1;
  }
  auto* table = reinterpret_cast<MsgEntry*>(block);
  std::memset(table, 0, count * sizeof(MsgEntry));

  uint32_t stored = 0;
  {
    File in(path);
    if (in.f == nullptr) {
      open_error(path, in);
      tp_area_ctl(kAreaFree, static_cast<uintptr_t>(block));
      return -1;
    }
    LineReader reader{in.f};
    int lines = 0;
    for (bool entry = false; lines < kMaxLines && stored < count && reader.next(line, &entry);) {
      ++lines;
      if (!entry || !parse_entry(line, &table[stored])) continue;
      // A text that does not fit its calls' arguments could crash the program
      // or write memory when it is formatted: it is left out, so its number
      // prints as a number missing from the table does.
      if (msg_text_fit(table[stored].msgno, table[stored].text) < 0) {
        printfx(kPfTraceText,
                "get_msgtbl()  entry %s refused: its conversions do not fit its calls\n",
                table[stored].msgno);
        continue;
      }
      ++stored;
    }
  }
  TEST_INF.msgtbl = table;
  TEST_INF.msgtbl_count = stored;

  for (uint32_t i = 0; i < stored; ++i) {
    printfx(kPfDebugText, "%s %s\n", table[i].msgno, table[i].text);
  }
  return 0;
}

const char* cv_msgno2fmt(const char* msgno) {
  if (msgno == nullptr || std::strlen(msgno) != 5 || TEST_INF.msgtbl == nullptr) return nullptr;
  for (uint32_t i = 0; i < TEST_INF.msgtbl_count; ++i) {
    if (same_number(TEST_INF.msgtbl[i].msgno, msgno)) return TEST_INF.msgtbl[i].text;
  }
  return nullptr;
}

const char* msg_signature(const char* msgno) {
  if (msgno == nullptr || std::strlen(msgno) != 5) return "";
  for (const MsgSignature& s : kMsgSignatures) {
    if (same_number(s.msgno, msgno)) return s.args;
  }
  return "";
}

int msg_text_fit(const char* msgno, const char* text) {
  const std::string_view args(msg_signature(msgno));
  const std::string_view t(text != nullptr ? text : "");
  size_t used = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] != '%') continue;
    if (++i < t.size() && t[i] == '%') continue;
    while (i < t.size() && std::string_view("-+ #0").find(t[i]) != std::string_view::npos) ++i;
    if (!skip_number(t, &i)) return -1;
    if (i < t.size() && t[i] == '.' && !skip_number(t, &++i)) return -1;
    const size_t length_start = i;
    while (i < t.size() && t[i] == 'l') ++i;
    const std::string_view length = t.substr(length_start, i - length_start);
    if (i == t.size() || used == args.size() || !conversion_fits(args[used], length, t[i])) {
      return -1;
    }
    ++used;
  }
  return static_cast<int>(used);
}

// Runs the real memtest binary and splits its standard output into records.
#pragma once

#include <signal.h>

#include <string>
#include <vector>

namespace e2e {

struct Record {
  std::string raw;          // the whole record, "ONLPTL," included
  unsigned length = 0;      // the length field
  unsigned type = 0;        // 1 log, 2 status, 3 progress, 5 version, 6 process
  unsigned line_count = 0;  // lines after the header line
  std::string module;       // header fields, padding included
  std::string device;
  std::string body;  // everything after the header line
};

struct RunResult {
  std::string out;  // standard output, byte for byte
  std::vector<Record> records;
  std::string parse_error;  // empty when every byte belonged to a well-formed record
  int exit_status = -1;     // exit status, or -1 when ended by a signal
  int term_signal = 0;
  double seconds = 0;          // wall time of the run
  double signal_to_exit = -1;  // seconds from the interrupt to the exit, when one was sent
};

struct RunOptions {
  std::vector<std::string> env;         // extra NAME=value entries
  bool clear_vyk_env = true;            // drop VYK_data / VYK_log from the environment
  double sigint_after = -1;             // send SIGINT this many seconds after the start (>= 0)
  bool sigint_on_first_output = false;  // send SIGINT as soon as the first byte arrives
  // Start the child with SIGINT blocked, as a controller that must not lose an
  // early interrupt does: a signal that comes while the program is still
  // being loaded then waits for the program's own signal thread.
  bool start_with_sigint_blocked = false;
  int sigint_count = 1;  // how many signals to send, back to back
  double timeout = 120;  // kill the run after this many seconds
  std::string argv0;     // program name to pass; empty: the binary's path
};

std::string binary_path();
std::string data_dir();
// The emulator that runs the binary (a 32-bit build on a 64-bit-only host),
// or empty.
std::string emulator_command();

RunResult run_memtest(const std::vector<std::string>& args, const RunOptions& opts = {});

// "-dev MEM -lv <level> -path <data> -trc <logdir>" followed by more.
std::vector<std::string> memtest_args(const std::string& logdir, const char* level,
                                      const std::vector<std::string>& more = {});

// Splits out into records; returns an error text for the first malformed byte.
std::string parse_records(const std::string& out, std::vector<Record>* records);

std::vector<Record> of_type(const std::vector<Record>& records, unsigned type);
// The fields of a progress body: elapsed, second value, percent, state, text.
struct Progress {
  unsigned elapsed = 0, second = 0, percent = 0, state = 0;
  std::string text;
};
bool parse_progress(const Record& r, Progress* p);
// Status body: status code, flags, value and the text after the third comma.
struct Status {
  unsigned status = 0, flags = 0, value = 0;
  std::string text;
};
bool parse_status(const Record& r, Status* s);

// A fresh directory removed at the end.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace e2e

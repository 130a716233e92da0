// Runs the real memtest binary and takes its standard output apart.
#pragma once

#include <string>
#include <vector>

#include "files.h"
#include "records.h"

namespace e2e {

struct Options {
  std::vector<std::string> env;      // extra NAME=value entries (VYK_data/VYK_log are dropped)
  std::string argv0;                 // program name to pass; empty: the binary's path
  double sigint_after = -1;          // send SIGINT this many seconds after the start,
  bool sigint_after_output = false;  // and, with this, not before the first output
  bool sigint_on_first_output = false;
  // Start the child with SIGINT blocked, as a controller that must not lose
  // an early interrupt does.
  bool sigint_blocked = false;
  int sigint_count = 1;  // signals sent back to back
  int signal = 2;        // the signal that "sigint" sends (SIGINT)
  double timeout = 120;  // killed after this many seconds
  // A hostile start: resource limits (resource, value), a umask, an
  // unprivileged user id (taken only by root), and a reader that stops
  // reading and closes its end after this many bytes.
  std::vector<std::pair<int, unsigned long long>> limits;
  int umask = -1, user = 0;
  size_t read_bytes = std::string::npos;
  bool pty = false;  // its terminal a pseudo-terminal of 60 columns, narrower than a progress line
  // Started instead of memtest, as it is (never through the emulator); its
  // output is not taken apart into records.
  std::string program;
};

struct Result {
  std::string out;
  std::vector<ts::Record> records;
  std::string error;     // "" when every byte belonged to a well-formed record
  int exit_status = -1;  // -1: ended by a signal
  double seconds = 0, signal_to_exit = -1;
};

Result run(const std::vector<std::string>& args, const Options& opts = {});
// memtest ("memtest") or memtest-view ("view") as a shell command line starts
// it: through the emulator where the build has one; "" for one not built.
std::string shell_command(const std::string& which);
// "emulated" (under qemu), "sanitized" or "plain": the first two run many
// times slower. MEMTEST_DATA_PATH names the shipped tables.
std::string build_kind();

}  // namespace e2e

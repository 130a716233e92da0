#include "e2e_support.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern char** environ;

namespace e2e {
namespace {

double now_seconds() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

bool parse_hex(const std::string& s, size_t pos, size_t digits, unsigned* value) {
  if (pos + 2 + digits > s.size() || s.compare(pos, 2, "0x") != 0) return false;
  unsigned v = 0;
  for (size_t i = 0; i < digits; ++i) {
    const char c = s[pos + 2 + i];
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    v = v * 16 + d;
  }
  *value = v;
  return true;
}

std::vector<std::string> build_env(const RunOptions& opts) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry(*e);
    if (opts.clear_vyk_env &&
        (entry.rfind("VYK_data=", 0) == 0 || entry.rfind("VYK_log=", 0) == 0)) {
      continue;
    }
    env.push_back(entry);
  }
  // A sanitizer report in the binary under test must fail the test: stop at
  // the first report with an exit status no run ends with otherwise.
  // The cancel routine ends the process while the progress thread still runs;
  // that unjoined thread is the design, not a leak.
  env.push_back("TSAN_OPTIONS=halt_on_error=1:exitcode=66:report_thread_leaks=0:atexit_sleep_ms=0");
  env.push_back("ASAN_OPTIONS=halt_on_error=1:exitcode=86");
  env.push_back("UBSAN_OPTIONS=halt_on_error=1:exitcode=87");
  for (const auto& extra : opts.env) env.push_back(extra);
  return env;
}

}  // namespace

std::string binary_path() {
  const char* bin = std::getenv("MEMTEST_BIN");
  return bin ? bin : MEMTEST_BIN_PATH;
}

std::string emulator_command() {
  const char* e = std::getenv("MEMTEST_EMULATOR");
  if (e != nullptr) return e;
#ifdef MEMTEST_EMULATOR
  return MEMTEST_EMULATOR;
#else
  return "";
#endif
}

std::string data_dir() {
  const char* dir = std::getenv("MEMTEST_DATA_DIR");
  return dir ? dir : MEMTEST_DATA_PATH;
}

std::string parse_records(const std::string& out, std::vector<Record>* records) {
  size_t pos = 0;
  while (pos < out.size()) {
    if (out.compare(pos, 7, "ONLPTL,") != 0)
      return "no record start at byte " + std::to_string(pos);
    Record r;
    if (!parse_hex(out, pos + 7, 8, &r.length) || out.size() <= pos + 17 || out[pos + 17] != ',') {
      return "bad length field at byte " + std::to_string(pos);
    }
    const size_t body_start = pos + 18;
    if (body_start + r.length > out.size())
      return "record runs past the output at " + std::to_string(pos);
    const std::string rest = out.substr(body_start, r.length);
    if (rest.empty() || rest.back() != '\n')
      return "record does not end in a newline at " + std::to_string(pos);
    // Header: 0xTT,0xLL,<16>,<16>,\n
    if (rest.size() < 46 || !parse_hex(rest, 0, 2, &r.type) || rest[4] != ',' ||
        !parse_hex(rest, 5, 2, &r.line_count) || rest[9] != ',' || rest[26] != ',' ||
        rest[43] != ',' || rest[44] != '\n') {
      return "bad header at byte " + std::to_string(pos);
    }
    r.module = rest.substr(10, 16);
    r.device = rest.substr(27, 16);
    r.body = rest.substr(45);
    size_t newlines = 0;
    for (char c : r.body) newlines += c == '\n';
    if (newlines != r.line_count) {
      return "line count differs from the body at byte " + std::to_string(pos);
    }
    r.raw = out.substr(pos, 18 + r.length);
    records->push_back(r);
    pos = body_start + r.length;
  }
  return "";
}

std::vector<Record> of_type(const std::vector<Record>& records, unsigned type) {
  std::vector<Record> out;
  for (const auto& r : records) {
    if (r.type == type) out.push_back(r);
  }
  return out;
}

bool parse_progress(const Record& r, Progress* p) {
  const std::string& b = r.body;
  if (r.type != 3 || b.size() < 41) return false;
  if (!parse_hex(b, 0, 8, &p->elapsed) || b[10] != ',' || !parse_hex(b, 11, 8, &p->second) ||
      b[21] != ',' || !parse_hex(b, 22, 2, &p->percent)) {
    return false;
  }
  // The percent has at least two digits.
  size_t i = 26;
  while (i < b.size() && b[i] != ',') {
    p->percent =
        p->percent * 16 + static_cast<unsigned>(std::stoul(std::string(1, b[i]), nullptr, 16));
    ++i;
  }
  if (i + 6 > b.size() || !parse_hex(b, i + 1, 2, &p->state) || b[i + 5] != ',') return false;
  p->text = b.substr(i + 6, b.size() - i - 7);
  return true;
}

bool parse_status(const Record& r, Status* s) {
  const std::string& b = r.body;
  if (r.type != 2 || b.size() < 22) return false;
  if (!parse_hex(b, 0, 2, &s->status) || b[4] != ',' || !parse_hex(b, 5, 2, &s->flags) ||
      b[9] != ',' || !parse_hex(b, 10, 8, &s->value) || b[20] != ',') {
    return false;
  }
  s->text = b.substr(21, b.size() - 22);
  return true;
}

std::vector<std::string> memtest_args(const std::string& logdir, const char* level,
                                      const std::vector<std::string>& more) {
  std::vector<std::string> a = {"-dev", "MEM", "-lv", level, "-path", data_dir(), "-trc", logdir};
  a.insert(a.end(), more.begin(), more.end());
  return a;
}

RunResult run_memtest(const std::vector<std::string>& args, const RunOptions& opts) {
  RunResult result;
  int pipefd[2];
  if (pipe(pipefd) != 0) return result;

  const std::string bin = binary_path();
  std::vector<std::string> argv_s;
  std::string exe = bin;
  const std::string emulator = emulator_command();
  if (!emulator.empty()) {
    // qemu's -0 sets the program name the binary sees.
    exe = emulator;
    argv_s = {emulator, "-0", opts.argv0.empty() ? bin : opts.argv0, bin};
  } else {
    argv_s.push_back(opts.argv0.empty() ? bin : opts.argv0);
  }
  for (const auto& a : args) argv_s.push_back(a);
  std::vector<char*> argv;
  for (auto& a : argv_s) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> env_s = build_env(opts);
  std::vector<char*> envp;
  for (auto& e : env_s) envp.push_back(e.data());
  envp.push_back(nullptr);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, pipefd[1], 1);
  posix_spawn_file_actions_addclose(&fa, pipefd[0]);
  posix_spawn_file_actions_addclose(&fa, pipefd[1]);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The child starts with SIGINT unblocked and at its default action, as a
  // controlling process would start it.
  sigset_t mask;
  sigemptyset(&mask);
  if (opts.start_with_sigint_blocked) sigaddset(&mask, SIGINT);
  posix_spawnattr_setsigmask(&attr, &mask);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = -1;
  const double start = now_seconds();
  const int rc = posix_spawnp(&pid, exe.c_str(), &fa, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  close(pipefd[1]);
  if (rc != 0) {
    close(pipefd[0]);
    result.parse_error = std::string("spawn failed: ") + std::strerror(rc);
    return result;
  }

  bool signalled = false;
  double signal_time = -1;
  char buf[65536];
  for (;;) {
    const double elapsed = now_seconds() - start;
    const bool due = (opts.sigint_after >= 0 && elapsed >= opts.sigint_after) ||
                     (opts.sigint_on_first_output && !result.out.empty());
    if (!signalled && due) {
      for (int i = 0; i < opts.sigint_count; ++i) kill(pid, SIGINT);
      signalled = true;
      signal_time = now_seconds();
    }
    if (elapsed > opts.timeout) {
      kill(pid, SIGKILL);
      result.parse_error = "timed out";
    }
    int wait_ms = 100;
    if (opts.sigint_after >= 0 && !signalled) {
      const double left = opts.sigint_after - elapsed;
      wait_ms = left <= 0                             ? 0
                : static_cast<int>(left * 1000) < 100 ? static_cast<int>(left * 1000)
                                                      : 100;
    }
    pollfd pfd{pipefd[0], POLLIN, 0};
    const int pr = poll(&pfd, 1, wait_ms);
    if (pr < 0 && errno == EINTR) continue;
    if (pr > 0) {
      const ssize_t n = read(pipefd[0], buf, sizeof buf);
      if (n > 0) {
        result.out.append(buf, static_cast<size_t>(n));
        if (opts.sigint_on_first_output && !signalled) {
          for (int i = 0; i < opts.sigint_count; ++i) kill(pid, SIGINT);
          signalled = true;
          signal_time = now_seconds();
        }
        continue;
      }
      if (n == 0) break;
      if (errno != EINTR) break;
    }
  }
  close(pipefd[0]);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  const double end = now_seconds();
  result.seconds = end - start;
  if (signalled) result.signal_to_exit = end - signal_time;
  if (WIFEXITED(status)) {
    result.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.term_signal = WTERMSIG(status);
  }
  const std::string err = parse_records(result.out, &result.records);
  if (result.parse_error.empty()) result.parse_error = err;
  return result;
}

TempDir::TempDir() {
  char tmpl[] = "/tmp/memtest_e2e.XXXXXX";
  const char* made = mkdtemp(tmpl);
  path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

}  // namespace e2e

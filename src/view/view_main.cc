// memtest-view: reads memtest's record stream from a pipe, or runs memtest
// itself, and shows it (see view.h and the usage text below).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "common/test_inf.h"
#include "view/view.h"
#include "view/view_json.h"
#include "view/view_options.h"
#include "view/view_report.h"

namespace {

constexpr char kUsage[] =
    "usage: memtest | memtest-view [--json [--all-records] | --plain] [--report FILE]\n"
    "       memtest-view [--json [--all-records] | --plain] [--report FILE] [--as-is]\n"
    "                    -- memtest OPTIONS...\n"
    "       memtest-view --version\n"
    "Shows memtest's record stream: a live progress line on a terminal, plain lines\n"
    "elsewhere (--plain forces them), one JSON object per record with --json;\n"
    "log rotation records are summed up in its verdict unless --all-records.\n"
    "The run report FILE, or the one memtest run here writes in its trace directory,\n"
    "adds its failing cells and its summary to the verdict.\n"
    "Before it starts memtest, it refuses (64) a -size that memtest would read as\n"
    "another size or test less of it (-size 1024 reads as 102 MiB: write -size 1GB;\n"
    "-size 100 tests one whole 64 MiB chunk; -runtime tests 2 MiB) unless --as-is\n"
    "is given, and warns of a log directory memtest cannot write.\n"
    "Exit status: 0 passed, 1 memory error (or corrected errors in the report),\n"
    "2 cancelled, 3 unreadable record stream, 4 the test could not run (Aborted),\n"
    "64 usage, 127 memtest cannot be started, 128+N memtest killed by signal N.\n";

// Interrupts (SIGINT, SIGTERM) seen so far; the main loop acts on them.
volatile sig_atomic_t g_interrupts = 0;

void on_interrupt(int) {
  g_interrupts = g_interrupts + 1;
}

void write_all(int fd, const std::string& s) {
  for (size_t done = 0; done < s.size();) {
    const ssize_t n = ::write(fd, s.data() + done, s.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a closed output: the stream is still read to its end
    done += static_cast<size_t>(n);
  }
}

// Starts the command with its standard output on a pipe; returns its pid
// and the read end in *fd, or -1 and why in *error. The child gets a process
// group of its own, so that a Ctrl-C on the terminal reaches it once, through
// this program, and the cancel signal when this program dies first. A failed
// exec comes back through a pipe that the exec closes: the child never
// writes to the terminal from outside its foreground group.
pid_t start_child(char** argv, int* fd, std::string* error) {
  int fds[2], exec_errors[2];
  if (pipe(fds) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return -1;
  }
  if (pipe2(exec_errors, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    close(fds[0]);
    close(fds[1]);
    return -1;
  }
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    prctl(PR_SET_PDEATHSIG, SIGINT);
    if (getppid() != parent) _exit(127);
    signal(SIGPIPE, SIG_DFL);  // ignored here; an ignored signal stays so across exec
    // Outside the foreground group, a line memtest writes to the terminal
    // would stop it under "stty tostop" (SIGTTOU) while this program waits
    // for its records; ignored, the write goes through.
    signal(SIGTTOU, SIG_IGN);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    dup2(fds[1], STDOUT_FILENO);
    close(fds[0]);
    close(fds[1]);
    execvp(argv[0], argv);
    const int e = errno;
    (void)!write(exec_errors[1], &e, sizeof e);
    _exit(127);
  }
  const int fork_errno = errno;
  close(fds[1]);
  close(exec_errors[1]);
  int exec_errno = 0;
  ssize_t n = 0;
  if (pid > 0) {
    setpgid(pid, pid);
    while ((n = read(exec_errors[0], &exec_errno, sizeof exec_errno)) < 0 && errno == EINTR) {
    }
  }
  close(exec_errors[0]);
  if (pid < 0 || n == static_cast<ssize_t>(sizeof exec_errno)) {
    close(fds[0]);
    if (pid > 0) waitpid(pid, nullptr, 0);
    *error = std::string("cannot start ") + argv[0] + ": " + (pid < 0 ? "fork: " : "") +
             std::strerror(pid < 0 ? fork_errno : exec_errno);
    return -1;
  }
  *fd = fds[0];
  return pid;
}

// Every interrupt so far goes on to memtest as its cancel signal; one that
// stopped memtest (job control) gets it going again, so that it can cancel.
void forward_interrupts(pid_t child, int* forwarded) {
  for (; *forwarded < g_interrupts; ++*forwarded) {
    kill(child, SIGINT);
    kill(child, SIGCONT);
  }
}

int terminal_width() {
  winsize ws{};
  if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  return 80;
}

}  // namespace

int main(int argc, char** argv) {
  bool json = false, plain = false, as_is = false, all_records = false;
  char** command = nullptr;
  std::string report_file;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--json") {
      json = true;
    } else if (arg == "--plain") {
      plain = true;
    } else if (arg == "--as-is") {
      as_is = true;
    } else if (arg == "--all-records") {
      all_records = true;
    } else if (arg == "--report" && i + 1 < argc) {
      report_file = argv[++i];
    } else if (arg == "-h" || arg == "--help") {
      write_all(STDOUT_FILENO, kUsage);
      return 0;
    } else if (arg == "--version") {
      write_all(STDOUT_FILENO, std::string("memtest-view ") + kModuleVersion + "\n");
      return 0;
    } else if (arg == "--" && i + 1 < argc) {
      command = argv + i + 1;
      break;
    } else {
      write_all(STDERR_FILENO, kUsage);
      return kExitUsage;
    }
  }
  if (command == nullptr && isatty(STDIN_FILENO)) {
    write_all(STDERR_FILENO,
              "memtest-view: no record stream on standard input\n" + std::string(kUsage));
    return kExitUsage;
  }
  if (command != nullptr) {
    const std::string refusal = as_is ? "" : size_refusal(command);
    if (!refusal.empty()) {
      write_all(STDERR_FILENO, "memtest-view: " + refusal + "\n");
      return kExitUsage;
    }
    const std::string warning = log_dir_warning(command);
    if (!warning.empty()) write_all(STDERR_FILENO, "memtest-view: " + warning + "\n");
  }

  ViewState v;
  v.mode = json ? kViewJson : plain || !isatty(STDOUT_FILENO) ? kViewPlain : kViewTerminal;
  v.width = terminal_width();
  v.all_records = all_records;
  struct sigaction sa {};
  sa.sa_handler = on_interrupt;  // no SA_RESTART: a blocked poll returns at once
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
  signal(SIGPIPE, SIG_IGN);

  // The report of a memtest run here: only one written after its start
  // counts, never one an earlier run left in the same directory.
  const std::string found = command != nullptr && report_file.empty() ? report_path(command) : "";
  ReportAge age;
  age.started = file_clock_now();
  age.before = file_stamp(found);

  int fd = STDIN_FILENO;
  MemtestEnd end;
  end.ran_here = command != nullptr;
  const pid_t child = command != nullptr ? start_child(command, &fd, &end.start_error) : -1;

  RecordReader reader;
  std::string error;
  int forwarded = 0;
  uint64_t received = 0;
  bool at_end = false;  // the stream reached its end (memtest closed its output)
  bool reading = end.start_error.empty();
  for (char buf[65536]; reading;) {
    if (child > 0) {
      // memtest then sends its Canceled records and the stream ends by itself.
      forward_interrupts(child, &forwarded);
    } else if (g_interrupts == 1 && forwarded == 0) {
      // Reading a pipe, memtest got the terminal's Ctrl-C itself; its last
      // records are still to come.
      forwarded = 1;
      // Below the live line rather than behind it.
      const std::string gap = v.live_shown ? "\n" : "";
      v.live_shown = false;
      write_all(STDERR_FILENO, gap +
                                   "memtest-view: waiting for the end of the stream (interrupt "
                                   "again to stop reading)\n");
    } else if (g_interrupts >= 2) {
      error = "reading stopped by an interrupt at byte " + std::to_string(reader.offset);
      break;
    }
    pollfd pfd{fd, POLLIN, 0};
    if (poll(&pfd, 1, 250) <= 0) continue;
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    // A closed descriptor or a directory at standard input fails here.
    if (n < 0) {
      error = std::string("cannot read ") + (child > 0 ? "memtest's output" : "standard input") +
              ": " + std::strerror(errno) + " at byte " + std::to_string(received);
    }
    if (n <= 0) {
      at_end = n == 0;
      if (error.empty() && record_reader_finish(&reader) == kRecordBad) error = reader.error;
      break;
    }
    received += static_cast<uint64_t>(n);
    record_reader_feed(&reader, std::string_view(buf, static_cast<size_t>(n)));
    std::string out;
    ProtocolRecord r;
    RecordResult result;
    while (error.empty() && (result = record_reader_next(&reader, &r)) == kRecordReady) {
      error = json ? view_record_json(&v, r, &out) : view_record(&v, r, &out);
    }
    if (error.empty() && result == kRecordBad) error = reader.error;
    write_all(STDOUT_FILENO, out);
    reading = error.empty();
  }

  if (child > 0) {
    const bool cancel = !error.empty() && !at_end;
    if (cancel) {
      // The rest cannot be shown: memtest is cancelled, and its output is
      // read away so that it is never stuck on a full pipe.
      kill(child, SIGINT);
      kill(child, SIGCONT);
      for (char buf[4096];;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0 || (n < 0 && errno != EINTR)) break;
      }
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
      if (errno != EINTR) break;
      forward_interrupts(child, &forwarded);
    }
    end.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    // A command that dies of the cancel sent here ended as asked: the
    // stream it sent is the news.
    end.signal = WIFSIGNALED(status) && !cancel ? WTERMSIG(status) : 0;
  }
  const std::string report = report_file.empty() ? found : report_file;
  std::string report_error;
  if (!report.empty() && end.start_error.empty() &&
      report_load(report, report_file.empty() ? &age : nullptr, &v.report, &report_error) ==
          ReportLoad::kBad) {
    write_all(STDERR_FILENO, "memtest-view: report " + report + ": " + report_error + "\n");
  }
  Verdict verdict;
  std::string out;
  view_finish(&v, error, end, &verdict, &out);
  if (!verdict.error.empty()) write_all(STDERR_FILENO, "memtest-view: " + verdict.error + "\n");
  write_all(STDOUT_FILENO, out);
  return verdict.exit_status;
}

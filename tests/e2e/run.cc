#include "run.h"

#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace e2e {
namespace {

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<std::string> child_env(const Options& opts) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    if (entry.rfind("VYK_data=", 0) != 0 && entry.rfind("VYK_log=", 0) != 0) env.push_back(entry);
  }
  // A sanitizer report in the binary under test fails the test through an
  // exit status no run ends with otherwise. The cancel ends the process while
  // the progress thread runs: that thread is left on purpose.
  env.push_back("TSAN_OPTIONS=halt_on_error=1:exitcode=66:report_thread_leaks=0:atexit_sleep_ms=0");
  // A preloaded library comes before the sanitizer runtime.
  env.push_back("ASAN_OPTIONS=halt_on_error=1:exitcode=86:verify_asan_link_order=0");
  env.push_back("UBSAN_OPTIONS=halt_on_error=1:exitcode=87");
  env.insert(env.end(), opts.env.begin(), opts.env.end());
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& v) {
  std::vector<char*> p;
  for (std::string& s : v) p.push_back(s.data());
  p.push_back(nullptr);
  return p;
}

}  // namespace

std::string shell_command(const std::string& which) {
#ifdef MEMTEST_EMULATOR
  const std::string emulator = MEMTEST_EMULATOR " ";
#else
  const std::string emulator;
#endif
#ifdef MEMTEST_VIEW_PATH
  if (which == "view") return emulator + MEMTEST_VIEW_PATH;
#endif
  return which == "view" ? "" : emulator + MEMTEST_BIN_PATH;
}

std::string build_kind() {
#if defined(MEMTEST_EMULATOR)
  return "emulated";
#elif defined(MEMTEST_E2E_SANITIZED)
  return "sanitized";
#else
  return "plain";
#endif
}

Result run(const std::vector<std::string>& args, const Options& opts) {
  Result res;
  const std::string bin = opts.program.empty() ? MEMTEST_BIN_PATH : opts.program;
  const std::string name = opts.argv0.empty() ? bin : opts.argv0;
  std::string exe = bin;
  std::vector<std::string> argv = {name};
  std::vector<std::string> env = child_env(opts);
#ifdef MEMTEST_EMULATOR
  if (opts.program.empty()) {  // memtest runs in the emulator, a program of the host as it is
    exe = MEMTEST_EMULATOR;
    argv = {exe};
    // A library to preload is the guest's: the emulator passes it on.
    for (auto e = env.begin(); e != env.end();) {
      const bool preload = e->rfind("LD_PRELOAD=", 0) == 0;
      if (preload) argv.insert(argv.end(), {"-E", *e});
      e = preload ? env.erase(e) : e + 1;
    }
    argv.insert(argv.end(), {"-0", name, bin});  // qemu's -0 sets the name the program sees
  }
#endif
  argv.insert(argv.end(), args.begin(), args.end());
  int fds[2] = {-1, -1};
  if (!opts.pty && pipe(fds) != 0) return res;
  std::vector<char*> argp = pointers(argv), envp = pointers(env);
  const double start = now();
  // Signals stay blocked until the child has set its own mask: one sent at
  // once must wait, as for posix_spawn, not end the child before its exec.
  sigset_t all, old;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &old);
  winsize size{24, 60, 0, 0};
  const pid_t pid = opts.pty ? forkpty(&fds[0], nullptr, nullptr, &size) : fork();
  if (pid == 0) {  // only async-signal-safe calls up to the exec
    if (!opts.pty) dup2(fds[1], 1);
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    for (const auto& [resource, value] : opts.limits) {
      const rlimit rl{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
      setrlimit(static_cast<__rlimit_resource_t>(resource), &rl);
    }
    if (opts.umask >= 0) umask(static_cast<mode_t>(opts.umask));
    if (opts.user != 0 && getuid() == 0) {
      if (setgroups(0, nullptr) != 0 || setgid(opts.user) != 0 || setuid(opts.user) != 0)
        _exit(126);
    }
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
    sigset_t mask;
    sigemptyset(&mask);
    if (opts.sigint_blocked) sigaddset(&mask, SIGINT);
    sigprocmask(SIG_SETMASK, &mask, nullptr);
    execve(exe.c_str(), argp.data(), envp.data());
    _exit(127);
  }
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  close(fds[1]);  // none for a pseudo-terminal
  if (pid < 0) {
    close(fds[0]);
    res.error = std::string("fork failed: ") + std::strerror(errno);
    return res;
  }
  double signalled = -1;
  for (char buf[65536];;) {
    const double t = now() - start;
    const bool timed = opts.sigint_after >= 0 && t >= opts.sigint_after &&
                       (!opts.sigint_after_output || !res.out.empty());
    if (signalled < 0 && (timed || (opts.sigint_on_first_output && !res.out.empty()))) {
      for (int i = 0; i < opts.sigint_count; ++i) kill(pid, opts.signal);
      signalled = now();
    }
    if (t > opts.timeout) {
      kill(pid, SIGKILL);
      res.error = "timed out";
    }
    pollfd pfd{fds[0], POLLIN, 0};
    const int pr = poll(&pfd, 1, signalled < 0 && opts.sigint_after >= 0 ? 1 : 100);
    if (pr <= 0) continue;
    const ssize_t n = read(fds[0], buf, std::min(sizeof buf, opts.read_bytes - res.out.size()));
    if (n > 0) res.out.append(buf, static_cast<size_t>(n));
    if (n == 0 || (n < 0 && errno != EINTR) || res.out.size() == opts.read_bytes) break;
  }
  close(fds[0]);
  int status = 0;
  for (pid_t w; (w = waitpid(pid, &status, WNOHANG)) != pid && (w == 0 || errno == EINTR);) {
    if (now() - start > opts.timeout && res.error.empty()) {
      kill(pid, SIGKILL);
      res.error = "timed out";
    }
    usleep(10000);
  }
  res.seconds = now() - start;
  if (signalled >= 0) res.signal_to_exit = now() - signalled;
  res.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  const std::string err = opts.program.empty() ? ts::parse_records(res.out, &res.records) : "";
  if (res.error.empty()) res.error = err;
  return res;
}

}  // namespace e2e

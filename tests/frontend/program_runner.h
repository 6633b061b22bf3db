// Runs the built zelvix executable as a user would: with arguments, extra
// environment, a chosen standard input, its standard output captured, either
// on plain pipes or on a pseudo-terminal that the test types into.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <utmp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace zv::test {

using Environment = std::vector<std::pair<std::string, std::string>>;

enum class StandardInput { devNull, openPipe, closed };

struct ProgramRun {
  std::vector<std::string> args;  // without the program name
  Environment environment;        // set on top of the test's own
  StandardInput standardInput = StandardInput::devNull;
  std::string workingDirectory;   // empty: the test's own
  std::string errorPath;          // standard error is added to this file; empty: the test's own
  // A file-size limit in bytes (ulimit -f), with SIGXFSZ at its default
  // action whatever the test inherited; negative: none.
  long long fileSizeLimit = -1;
};

inline long long nowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// In the child after fork: environment, directory, then exec; never returns.
[[noreturn]] inline void execZelvix(const ProgramRun& run) {
  if (!run.errorPath.empty()) {
    int fd = open(run.errorPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd == -1) _exit(124);
    dup2(fd, 2);
    close(fd);
  }
  for (const auto& [name, value] : run.environment) setenv(name.c_str(), value.c_str(), 1);
  if (run.fileSizeLimit >= 0) {
    signal(SIGXFSZ, SIG_DFL);
    const rlimit limit{static_cast<rlim_t>(run.fileSizeLimit), static_cast<rlim_t>(run.fileSizeLimit)};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(123);
  }
  if (!run.workingDirectory.empty() && chdir(run.workingDirectory.c_str()) != 0) _exit(126);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(ZELVIX_EXECUTABLE));
  for (const std::string& a : run.args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  execv(ZELVIX_EXECUTABLE, argv.data());
  _exit(127);
}

// What a terminal shows of `text`: each newline as CR LF.
inline std::string withCrLf(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Exit status of a waitpid status word; -1 when the child did not exit normally.
inline int exitStatusOf(int wstatus) { return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1; }

// A running zelvix on pipes. Output is collected by readFor / waitUntil / finish.
class RunningProgram {
 public:
  explicit RunningProgram(const ProgramRun& run) {
    int out[2];
    int in[2] = {-1, -1};
    if (pipe(out) != 0) return;
    if (run.standardInput == StandardInput::openPipe && pipe(in) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      if (run.standardInput == StandardInput::devNull) {
        int fd = open("/dev/null", O_RDONLY);
        dup2(fd, 0);
        close(fd);
      } else if (run.standardInput == StandardInput::openPipe) {
        dup2(in[0], 0);
        close(in[0]);
        close(in[1]);
      } else {
        close(0);
      }
      execZelvix(run);
    }
    close(out[1]);
    outputFd_ = out[0];
    if (in[0] != -1) {
      close(in[0]);
      inputFd_ = in[1];  // held open, never written: a pipe that has no data and no end
    }
  }
  ~RunningProgram() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (outputFd_ != -1) close(outputFd_);
    if (inputFd_ != -1) close(inputFd_);
  }
  RunningProgram(const RunningProgram&) = delete;
  RunningProgram& operator=(const RunningProgram&) = delete;

  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }

  // Collects output until `done` holds or `timeoutMs` pass; returns `done`'s last value.
  bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    long long end = nowMs() + timeoutMs;
    while (!done()) {
      if (nowMs() >= end) return false;
      readFor(20);
    }
    return true;
  }

  void signal(int sig) { kill(pid_, sig); }

  // Reads to end of output and waits for the exit. Kills the program after
  // `timeoutMs` and returns -1 then (as for any abnormal end).
  int finish(int timeoutMs, rusage* usage = nullptr) {
    long long end = nowMs() + timeoutMs;
    while (outputFd_ != -1 && nowMs() < end) readFor(50);
    int wstatus = 0;
    if (outputFd_ != -1) kill(pid_, SIGKILL);
    rusage ignored;
    wait4(pid_, &wstatus, 0, usage != nullptr ? usage : &ignored);
    exited_ = true;
    return exitStatusOf(wstatus);
  }

 private:
  void readFor(int ms) {
    if (outputFd_ == -1) {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      return;
    }
    pollfd p{outputFd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0) return;
    char buffer[4096];
    ssize_t n = read(outputFd_, buffer, sizeof buffer);
    if (n > 0) {
      output_.append(buffer, static_cast<size_t>(n));
    } else {
      close(outputFd_);
      outputFd_ = -1;
    }
  }

  pid_t pid_ = -1;
  int outputFd_ = -1;
  int inputFd_ = -1;
  bool exited_ = false;
  std::string output_;
};

struct Finished {
  std::string output;
  int status;
};

// Runs to the end (at most `timeoutMs`, then killed with status -1).
inline Finished runToEnd(const ProgramRun& run, int timeoutMs = 60000) {
  RunningProgram p(run);
  int status = p.finish(timeoutMs);
  return {p.output(), status};
}

inline Finished runWith(std::vector<std::string> args) {
  ProgramRun run;
  run.args = std::move(args);
  return runToEnd(run);
}

// The exit status of a TerminalProgram run in the background whose program
// was stopped by the terminal (SIGTTOU or SIGTTIN), as a shell reports a job
// "Stopped (tty output)".
constexpr int kStoppedByTerminal = 99;

namespace detail {
inline pid_t backgroundJob = -1;
inline void forwardToJob(int sig) { kill(backgroundJob, sig); }

// In the terminal's session leader, which stays in the foreground process
// group as a shell does: runs zelvix as a job in a process group of its own,
// forwards the terminating signals to it and exits with its status, or with
// kStoppedByTerminal (after killing it) when the terminal stops it.
[[noreturn]] inline void runAsBackgroundJob(const ProgramRun& run) {
  backgroundJob = fork();
  if (backgroundJob == 0) {
    setpgid(0, 0);
    signal(SIGTTOU, SIG_DFL);
    signal(SIGTTIN, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execZelvix(run);
  }
  setpgid(backgroundJob, backgroundJob);
  struct sigaction forward {};
  forward.sa_handler = forwardToJob;
  sigemptyset(&forward.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaction(sig, &forward, nullptr);
  int wstatus = 0;
  while (waitpid(backgroundJob, &wstatus, WUNTRACED) == -1 && errno == EINTR) {}
  if (WIFSTOPPED(wstatus)) {
    kill(backgroundJob, SIGKILL);
    _exit(kStoppedByTerminal);
  }
  _exit(WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 126);
}
}  // namespace detail

// A running zelvix on a pseudo-terminal: its standard input, output and error
// are the terminal's slave side; the test reads and types on the master side.
class TerminalProgram {
 public:
  // The terminal starts with the kernel's default (cooked) settings. The test
  // keeps a slave descriptor open itself, so the terminal's settings outlive
  // the program and can be compared after it has exited. `inBackground`
  // runs it as `zelvix ... &` from an interactive shell: not in the
  // terminal's foreground process group (see detail::runAsBackgroundJob).
  explicit TerminalProgram(const ProgramRun& run, bool inBackground = false) {
    winsize size{24, 120, 0, 0};
    if (openpty(&masterFd_, &slaveFd_, nullptr, nullptr, &size) != 0) return;
    tcgetattr(slaveFd_, &settingsBefore_);
    pid_ = fork();
    if (pid_ == 0) {
      close(masterFd_);
      if (login_tty(slaveFd_) != 0) _exit(125);
      if (inBackground) detail::runAsBackgroundJob(run);
      execZelvix(run);
    }
  }
  ~TerminalProgram() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (masterFd_ != -1) close(masterFd_);
    if (slaveFd_ != -1) close(slaveFd_);
  }
  TerminalProgram(const TerminalProgram&) = delete;
  TerminalProgram& operator=(const TerminalProgram&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& output() const { return output_; }

  void type(const std::string& keys) {
    ssize_t n = write(masterFd_, keys.data(), keys.size());
    (void)n;
  }

  bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    long long end = nowMs() + timeoutMs;
    while (!done()) {
      if (nowMs() >= end) return false;
      readFor(20);
    }
    return true;
  }
  bool waitFor(const std::string& text, int timeoutMs, size_t from = 0) {
    return waitUntil([&] { return output_.find(text, from) != std::string::npos; }, timeoutMs);
  }
  void pause(int ms) {
    long long end = nowMs() + ms;
    while (nowMs() < end) readFor(static_cast<int>(end - nowMs()));
  }

  void signal(int sig) { kill(pid_, sig); }

  // The terminal's settings before the program started, and now.
  const termios& settingsBefore() const { return settingsBefore_; }
  termios settings() const {
    termios t{};
    tcgetattr(slaveFd_, &t);
    return t;
  }

  // The input waiting on the terminal unread, as the next program to read
  // it (the shell) would find it; the settings are left as they were.
  std::string unreadInput() const {
    const termios now = settings();
    termios polling = now;
    polling.c_lflag &= ~static_cast<tcflag_t>(ICANON);  // a partial line counts too
    polling.c_cc[VMIN] = 0;
    polling.c_cc[VTIME] = 0;
    tcsetattr(slaveFd_, TCSANOW, &polling);
    std::string unread;
    char buffer[256];
    for (ssize_t n; (n = read(slaveFd_, buffer, sizeof buffer)) > 0;) unread.append(buffer, static_cast<size_t>(n));
    tcsetattr(slaveFd_, TCSANOW, &now);
    return unread;
  }

  // Reads until the program has exited and closed the terminal; -1 after a
  // kill at `timeoutMs`.
  int finish(int timeoutMs) {
    long long end = nowMs() + timeoutMs;
    int wstatus = 0;
    while (nowMs() < end) {
      readFor(50);
      pid_t r = waitpid(pid_, &wstatus, WNOHANG);
      if (r == pid_) {
        exited_ = true;
        readFor(50);  // what the program wrote last
        return exitStatusOf(wstatus);
      }
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &wstatus, 0);
    exited_ = true;
    return -1;
  }

 private:
  void readFor(int ms) {
    pollfd p{masterFd_, POLLIN, 0};
    if (poll(&p, 1, ms) <= 0 || (p.revents & POLLIN) == 0) return;
    char buffer[4096];
    ssize_t n = read(masterFd_, buffer, sizeof buffer);
    if (n > 0) output_.append(buffer, static_cast<size_t>(n));
  }

  pid_t pid_ = -1;
  int masterFd_ = -1;
  int slaveFd_ = -1;
  termios settingsBefore_{};
  bool exited_ = false;
  std::string output_;
};

// A fresh directory under the test temp folder, removed with the object.
class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelvix-frontend-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline long long fileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

}  // namespace zv::test

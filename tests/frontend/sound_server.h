// A private PulseAudio server for the live-play tests, and a recorder of
// what it plays. The server runs in its own runtime folder with no user or
// system configuration: one null sink (s16le, 2 channels, at the rate the
// test asks for) and the native protocol on a socket in that folder. Clients
// started with clientEnvironment() reach only this server and never start one
// of their own. The server and the recorder are stopped when their objects
// go, and killed with the test process if it dies first.
#pragma once

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/program_runner.h"
#include "frontend/test_songs.h"

namespace zv::test {

// How often `what` occurs in `text`.
inline size_t occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Starts `argv` with exactly `environment` (name=value), standard input from
// /dev/null and standard output and error into the files given (empty: the
// test's own). The child dies with the test process; with `ownGroup` it leads
// a process group of its own, so that killGroup ends its children too.
inline pid_t spawnWith(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                       const std::string& outputPath, const std::string& errorPath, bool ownGroup = false) {
  std::vector<char*> args, env;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  for (const std::string& e : environment) env.push_back(const_cast<char*>(e.c_str()));
  args.push_back(nullptr);
  env.push_back(nullptr);
  const std::pair<int, const std::string*> redirections[] = {{1, &outputPath}, {2, &errorPath}};
  pid_t pid = fork();
  if (pid != 0) return pid;
  if (ownGroup) setpgid(0, 0);
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  int in = open("/dev/null", O_RDONLY);
  dup2(in, 0);
  close(in);
  for (const auto& [fd, path] : redirections) {
    if (path->empty()) continue;
    int out = open(path->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(out, fd);
    close(out);
  }
  execvpe(args[0], args.data(), env.data());
  _exit(127);
}

// SIGTERM, then SIGKILL if the process has not gone after `graceMs`.
inline void stopProcess(pid_t& pid, int graceMs = 5000) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  long long end = nowMs() + graceMs;
  while (waitpid(pid, nullptr, WNOHANG) == 0) {
    if (nowMs() >= end) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      break;
    }
    usleep(10000);
  }
  pid = -1;
}

class SoundServer {
 public:
  static constexpr char kSink[] = "zelvix";

  explicit SoundServer(int rate) : rate_(rate) {
    if (dir_.path().empty()) {
      failure_ = "no temporary folder for the sound server";
      return;
    }
    writeFile(dir_ / "daemon.conf", {});
    const std::string autospawnOff = "autospawn = no\n";
    writeFile(dir_ / "client.conf", std::vector<uint8_t>(autospawnOff.begin(), autospawnOff.end()));
    const char* path = std::getenv("PATH");
    std::vector<std::string> environment = {
        std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"),
        "HOME=" + dir_.path(),
        "XDG_RUNTIME_DIR=" + dir_.path(),
        "XDG_CONFIG_HOME=" + dir_ / "config",
        "PULSE_RUNTIME_PATH=" + dir_.path(),
        "PULSE_STATE_PATH=" + dir_ / "state",
        "PULSE_CONFIG=" + dir_ / "daemon.conf",  // empty: built-in defaults, not /etc/pulse
        "PULSE_CLIENTCONFIG=" + dir_ / "client.conf",
    };
    // -n: no default script; the two modules come from the command line.
    pid_ = spawnWith({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                      "--no-cpu-limit=yes", "--log-level=debug", "--log-time=yes",
                      "--log-target=file:" + logPath(),
                      "-L", "module-null-sink sink_name=" + std::string(kSink) + " rate=" + std::to_string(rate) +
                                " format=s16le channels=2 channel_map=front-left,front-right",
                      "-L", "module-native-protocol-unix socket=" + socketPath() + " auth-anonymous=1"},
                     environment, "", dir_ / "server.err");
    long long end = nowMs() + 15000;
    while (log().find("Daemon startup complete.") == std::string::npos || fileSize(socketPath()) < 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        failure_ = "pulseaudio exited at start (status " + std::to_string(exitStatusOf(status)) +
                   "; 127: not installed, apt-get install pulseaudio pulseaudio-utils)";
        break;
      }
      if (nowMs() >= end) {
        failure_ = "pulseaudio did not finish starting within 15 s";
        break;
      }
      usleep(20000);
    }
    // On a machine busy with other sessions' work, the server's protocol
    // thread (ordinary scheduling, nice -11) can wait longer than a small
    // buffer lasts. Run at real-time priority where the system allows, beside
    // the server's own real-time sink thread, a gap it reports is the player's.
    sched_param param{};
    param.sched_priority = 5;
    if (failure_.empty()) realTime_ = sched_setscheduler(pid_, SCHED_RR, &param) == 0;
    if (!failure_.empty()) {
      std::vector<uint8_t> err = readFile(dir_ / "server.err");
      failure_ += "\n" + std::string(err.begin(), err.end()) + log();
      stopProcess(pid_);
    }
  }
  ~SoundServer() { stopProcess(pid_); }
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Empty while the server runs; otherwise why it could not be started.
  const std::string& failure() const { return failure_; }
  int rate() const { return rate_; }
  pid_t pid() const { return pid_; }
  bool realTime() const { return realTime_; }
  const TemporaryDirectory& folder() const { return dir_; }

  // What a client needs to reach this server and nothing else.
  Environment clientEnvironment() const {
    return {{"PULSE_SERVER", "unix:" + socketPath()},
            {"PULSE_CLIENTCONFIG", dir_ / "client.conf"},
            {"PULSE_COOKIE", dir_ / "cookie"},
            {"PULSE_RUNTIME_PATH", dir_.path()},
            {"XDG_CONFIG_HOME", dir_ / "config"}};
  }
  std::vector<std::string> clientEnvironmentStrings() const {
    const char* path = std::getenv("PATH");
    std::vector<std::string> out = {std::string("PATH=") + (path != nullptr ? path : "/usr/bin:/bin"),
                                    "HOME=" + dir_.path()};
    for (const auto& [name, value] : clientEnvironment()) out.push_back(name + "=" + value);
    return out;
  }

  std::string log() const {
    std::vector<uint8_t> bytes = readFile(logPath());
    return std::string(bytes.begin(), bytes.end());
  }

  // Runs pactl with `args` against this server; true when it succeeds.
  bool control(std::vector<std::string> args) const {
    args.insert(args.begin(), "pactl");
    pid_t p = spawnWith(args, clientEnvironmentStrings(), "/dev/null", "/dev/null");
    int status = 0;
    waitpid(p, &status, 0);
    return exitStatusOf(status) == 0;
  }

  // The process is running and answers a client.
  bool answers() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0 && control({"info"}); }

  // Kills the server at once, as a crash would.
  void killNow() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  std::string logPath() const { return dir_ / "server.log"; }
  std::string socketPath() const { return dir_ / "native"; }

  TemporaryDirectory dir_;
  int rate_;
  pid_t pid_ = -1;
  bool realTime_ = false;
  std::string failure_;
};

// Records the sink's monitor, at the sink's rate in the sink's format, into
// a file from construction until stop().
class MonitorRecorder {
 public:
  explicit MonitorRecorder(const SoundServer& server) : server_(server), path_(server.folder() / "monitor.raw") {
    const std::string rate = std::to_string(server.rate());
    size_t outputsBefore = occurrences(server.log(), "Created output");
    pid_ = spawnWith({"parec", "--device=" + std::string(SoundServer::kSink) + ".monitor", "--raw",
                      "--format=s16le", "--rate=" + rate, "--channels=2", "--channel-map=front-left,front-right",
                      "--latency-msec=20"},
                     server.clientEnvironmentStrings(), path_, server.folder() / "parec.err");
    long long end = nowMs() + 10000;
    while (occurrences(server.log(), "Created output") == outputsBefore) {
      if (nowMs() >= end || waitpid(pid_, nullptr, WNOHANG) != 0) {
        std::vector<uint8_t> err = readFile(server.folder() / "parec.err");
        failure_ = "parec did not connect (apt-get install pulseaudio-utils)\n" + std::string(err.begin(), err.end());
        break;
      }
      usleep(10000);
    }
    // An idle null sink renders up to two seconds ahead, and a stream that
    // starts meanwhile waits until that time has passed. Suspended and
    // resumed, it keeps to the recorder's short blocks from now on.
    if (failure_.empty() && !(server.control({"suspend-sink", SoundServer::kSink, "1"}) &&
                              server.control({"suspend-sink", SoundServer::kSink, "0"}))) {
      failure_ = "pactl could not suspend and resume the sink";
    }
  }
  ~MonitorRecorder() { stopProcess(pid_); }
  MonitorRecorder(const MonitorRecorder&) = delete;
  MonitorRecorder& operator=(const MonitorRecorder&) = delete;

  const std::string& failure() const { return failure_; }

  // Waits until the recording has gone on for `settleMs` of sound past what
  // it held when called (all the program played has passed the monitor),
  // then stops the recorder and returns the samples.
  std::vector<int16_t> stop(int settleMs = 300) {
    const long long target = fileSize(path_) + 4LL * server_.rate() * settleMs / 1000;
    long long end = nowMs() + 10000;
    while (fileSize(path_) < target && nowMs() < end) usleep(10000);
    stopProcess(pid_);
    return readRawSamples(path_);
  }

 private:
  const SoundServer& server_;
  std::string path_;
  pid_t pid_ = -1;
  std::string failure_;
};

}  // namespace zv::test

// Private sound servers for the live-play tests, and a recorder of what they
// play. Each runs in its own runtime folder with no user or system
// configuration: one null sink (2 channels at the rate the test asks for) and
// the PulseAudio protocol on a socket in that folder, served by PulseAudio
// itself or by PipeWire. Clients started with clientEnvironment() reach only
// this server and never start one of their own. Servers and recorders are
// stopped when their objects go, and killed with the test process if it dies
// first.
#pragma once

#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
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

// The servers a desktop plays through: PulseAudio itself, or PipeWire with
// its session manager and its PulseAudio service. Clients reach either
// through the PulseAudio protocol.
enum class ServerKind { pulseAudio, pipeWire };

inline const char* nameOf(ServerKind kind) { return kind == ServerKind::pulseAudio ? "PulseAudio" : "PipeWire"; }

// What the server granted a playback stream, in frames: the buffer the
// client asked for, and the total latency the server set up for it.
struct StreamBuffer {
  int requested, granted;
};

class SoundServer {
 public:
  static constexpr char kSink[] = "zelvix";

  SoundServer(ServerKind kind, int rate) : kind_(kind), rate_(rate) {
    if (dir_.path().empty()) {
      failure_ = "no temporary folder for the sound server";
      return;
    }
    writeText("client.conf", "autospawn = no\n");
    if (kind == ServerKind::pulseAudio) {
      startPulseAudio();
    } else {
      startPipeWire();
    }
    if (!failure_.empty()) {
      failure_ += "\n" + readText("server.err") + log();
      stopAll();
    }
  }
  ~SoundServer() { stopAll(); }
  SoundServer(const SoundServer&) = delete;
  SoundServer& operator=(const SoundServer&) = delete;

  // Empty while the server runs; otherwise why it could not be started.
  const std::string& failure() const { return failure_; }
  ServerKind kind() const { return kind_; }
  int rate() const { return rate_; }
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
    std::vector<std::string> out = {"PATH=" + searchPath(), "HOME=" + dir_.path()};
    for (const auto& [name, value] : clientEnvironment()) out.push_back(name + "=" + value);
    return out;
  }

  // The log of the process that speaks the PulseAudio protocol.
  std::string log() const { return readText("server.log"); }

  // Runs pactl with `args` against this server; its output, or nullopt when it fails.
  std::optional<std::string> control(std::vector<std::string> args) const {
    args.insert(args.begin(), "pactl");
    pid_t p = spawnWith(args, clientEnvironmentStrings(), dir_ / "pactl.out", "/dev/null");
    int status = 0;
    waitpid(p, &status, 0);
    if (exitStatusOf(status) != 0) return std::nullopt;
    return readText("pactl.out");
  }

  // Every process is running, the server answers a client, and no playback
  // stream is left.
  bool answersWithNoStreamLeft() const {
    for (pid_t pid : pids_) {
      if (waitpid(pid, nullptr, WNOHANG) != 0) return false;
    }
    std::optional<std::string> streams = control({"list", "short", "sink-inputs"});
    return !pids_.empty() && streams && streams->empty();
  }

  // The buffers of the playback streams the server has set up, in order.
  std::vector<StreamBuffer> streamBuffers() const {
    std::vector<StreamBuffer> out;
    const std::string text = log();
    auto number = [&](size_t at, const char* after) {
      size_t from = text.find(after, at);
      return from == std::string::npos ? 0.0 : std::atof(text.c_str() + from + std::strlen(after));
    };
    if (kind_ == ServerKind::pulseAudio) {
      // "Requested tlength=23.22 ms, ..." then "Final latency 23.22 ms = S ms + 2*M ms + D ms".
      for (size_t at = text.find("Requested tlength="); at != std::string::npos;
           at = text.find("Requested tlength=", at + 1)) {
        size_t final = text.find("Final latency ", at);
        out.push_back({frames(number(at, "tlength=")), frames(number(final, "Final latency "))});
      }
    } else {
      // Asked "... tlength:4096 ... max:...", set up "... tlength:3072 ... latency:256/44100".
      constexpr char kAttr[] = "fix_playback_buffer_attr()] [";
      for (size_t at = text.find(kAttr); at != std::string::npos; at = text.find(kAttr, at + 1)) {
        const std::string line = text.substr(at, text.find('\n', at) - at);
        const double bytes = number(at, "tlength:");
        if (line.find(" max:") != std::string::npos) {
          out.push_back({static_cast<int>(bytes / 4), 0});
        } else if (!out.empty()) {
          out.back().granted = static_cast<int>(bytes / 4 + number(at, "latency:"));
        }
      }
    }
    return out;
  }

  // PulseAudio's account of the last playback stream: how often it ran dry
  // and went on later (every stream begins by ending the underrun of its empty
  // buffer), and how often the recorder fell behind and data was dropped.
  size_t playbackUnderruns() const {
    const std::string text = log();
    const size_t last = text.rfind("Created input ");
    if (last == std::string::npos) return 0;
    const size_t ends = occurrences(text.substr(last), "Requesting rewind due to end of underrun.");
    return ends > 0 ? ends - 1 : 0;
  }
  size_t recorderOverruns() const {
    const std::string text = log();
    return occurrences(text, "Failed to push data into queue") + occurrences(text, "Delay queue overflow");
  }

  // Kills the server at once, as a crash would.
  void killNow() {
    for (pid_t& pid : pids_) {
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
    }
    pids_.clear();
  }

 private:
  void startPulseAudio() {
    writeText("daemon.conf", "");  // built-in defaults, not /etc/pulse
    const std::vector<std::string> environment = {
        "PATH=" + searchPath(),
        "HOME=" + dir_.path(),
        "XDG_RUNTIME_DIR=" + dir_.path(),
        "XDG_CONFIG_HOME=" + dir_ / "config",
        "PULSE_RUNTIME_PATH=" + dir_.path(),
        "PULSE_STATE_PATH=" + dir_ / "state",
        "PULSE_CONFIG=" + dir_ / "daemon.conf",
        "PULSE_CLIENTCONFIG=" + dir_ / "client.conf",
    };
    // -n: no default script; the two modules come from the command line.
    const std::string rate = std::to_string(rate_);
    const pid_t server = start({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                "--no-cpu-limit=yes", "--log-level=debug", "--log-time=yes",
                                "--log-target=file:" + dir_ / "server.log", "-L",
                                "module-null-sink sink_name=" + std::string(kSink) + " rate=" + rate +
                                    " format=s16le channels=2 channel_map=front-left,front-right",
                                "-L", "module-native-protocol-unix socket=" + socketPath() + " auth-anonymous=1"},
                               environment, "", "server.err");
    if (!waitFor("pulseaudio", [&] { return log().find("Daemon startup complete.") != std::string::npos; })) return;
    // On a machine busy with other sessions' work, the server's protocol
    // thread (ordinary scheduling, nice -11) can wait longer than a small
    // buffer lasts. Run at real-time priority where the system allows, beside
    // the server's own real-time sink thread, a gap it reports is the player's.
    sched_param param{};
    param.sched_priority = 5;
    realTime_ = sched_setscheduler(server, SCHED_RR, &param) == 0;
  }

  // PipeWire with a configuration of its own (the null sink, the graph at the
  // sink's rate so that nothing is resampled), WirePlumber to link streams,
  // which needs a session bus, and the PulseAudio service on the socket.
  void startPipeWire() {
    const std::string rate = std::to_string(rate_);
    const std::string base =
        "context.spa-libs = {\n"
        "  audio.convert.* = audioconvert/libspa-audioconvert\n"
        "  support.* = support/libspa-support\n"
        "}\n";
    const std::string modules =
        "  { name = libpipewire-module-rt args = { nice.level = -11 } flags = [ ifexists nofail ] }\n"
        "  { name = libpipewire-module-protocol-native }\n"
        "  { name = libpipewire-module-client-node }\n"
        "  { name = libpipewire-module-adapter }\n"
        "  { name = libpipewire-module-metadata }\n";
    std::filesystem::create_directories(dir_ / "pipewire");
    writeText("pipewire/pipewire.conf",
              "context.properties = {\n"
              "  core.daemon = true\n"
              "  core.name = pipewire-0\n"
              "  default.clock.rate = " + rate + "\n"
              "  default.clock.allowed-rates = [ " + rate + " ]\n"
              "}\n" + base +
              "context.modules = [\n" + modules +
              "  { name = libpipewire-module-spa-node-factory }\n"
              "  { name = libpipewire-module-client-device }\n"
              "  { name = libpipewire-module-access }\n"
              "  { name = libpipewire-module-link-factory }\n"
              "  { name = libpipewire-module-session-manager }\n"
              "]\n"
              "context.objects = [\n"
              "  { factory = spa-node-factory args = { factory.name = support.node.driver\n"
              "      node.name = Dummy-Driver node.group = pipewire.dummy priority.driver = 20000 } }\n"
              "  { factory = adapter args = { factory.name = support.null-audio-sink node.name = " + kSink + "\n"
              "      media.class = Audio/Sink audio.rate = " + rate + " audio.channels = 2\n"
              "      audio.position = \"FL,FR\" monitor.channel-volumes = true } }\n"
              "]\n");
    writeText("pipewire/client.conf", base + "context.modules = [\n" + modules + "]\n");
    writeText("pipewire/pipewire-pulse.conf",
              base + "context.modules = [\n" + modules +
                  "  { name = libpipewire-module-protocol-pulse args = { server.address = [ \"unix:" + socketPath() +
                  "\" ] } }\n]\n");
    std::vector<std::string> environment = {
        "PATH=" + searchPath(),
        "HOME=" + dir_.path(),
        "XDG_RUNTIME_DIR=" + dir_.path(),
        "XDG_CONFIG_HOME=" + dir_ / "config",
        "XDG_STATE_HOME=" + dir_ / "state",
        "PIPEWIRE_RUNTIME_DIR=" + dir_.path(),
        "PIPEWIRE_CONFIG_DIR=" + dir_ / "pipewire",
        "WIREPLUMBER_CONFIG_DIR=/usr/share/wireplumber",  // the package's defaults only
        "DBUS_SESSION_BUS_ADDRESS=unix:path=" + dir_ / "bus",
    };
    const char* missing = "(apt-get install pipewire pipewire-pulse wireplumber dbus-daemon pulseaudio-utils)";
    start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=unix:path=" + dir_ / "bus"},
          environment, "", "dbus.log");
    if (!waitFor("dbus-daemon", [&] { return fileSize(dir_ / "bus") >= 0; }, missing)) return;
    start({"pipewire"}, environment, "", "pipewire.log");
    if (!waitFor("pipewire", [&] { return fileSize(dir_ / "pipewire-0") >= 0; }, missing)) return;
    start({"wireplumber"}, environment, "", "wireplumber.log");
    environment.push_back("PIPEWIRE_DEBUG=3");  // logs the buffers it grants
    start({"pipewire-pulse"}, environment, "", "server.log");
    // WirePlumber makes the null sink the default once it runs.
    waitFor("pipewire-pulse and wireplumber", [&] {
      std::optional<std::string> info = fileSize(socketPath()) >= 0 ? control({"info"}) : std::nullopt;
      return info && info->find(std::string("Default Sink: ") + kSink) != std::string::npos;
    }, missing);
  }

  pid_t start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
              const std::string& outputName, const std::string& errorName) {
    pid_t pid = spawnWith(argv, environment, outputName.empty() ? "" : dir_ / outputName, dir_ / errorName);
    pids_.push_back(pid);
    return pid;
  }

  // Waits up to 15 s for `ready`; false, with the reason, when a process
  // ended meanwhile or time ran out.
  bool waitFor(const std::string& what, const std::function<bool()>& ready,
               const char* missing = "(apt-get install pulseaudio pulseaudio-utils)") {
    long long end = nowMs() + 15000;
    while (!ready()) {
      for (pid_t& pid : pids_) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
          pid = -1;
          failure_ = what + " is not running: a process exited with status " +
                     std::to_string(exitStatusOf(status)) + " (127: not installed " + missing + ")";
          return false;
        }
      }
      if (nowMs() >= end) {
        failure_ = what + " did not finish starting within 15 s";
        return false;
      }
      usleep(20000);
    }
    return true;
  }

  void stopAll() {
    for (auto pid = pids_.rbegin(); pid != pids_.rend(); ++pid) stopProcess(*pid);
    pids_.clear();
  }

  int frames(double milliseconds) const { return static_cast<int>(std::lround(milliseconds * rate_ / 1000)); }
  std::string socketPath() const { return dir_ / "native"; }
  static std::string searchPath() {
    const char* path = std::getenv("PATH");
    return path != nullptr ? path : "/usr/bin:/bin";
  }
  void writeText(const std::string& name, const std::string& text) const {
    writeFile(dir_ / name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  std::string readText(const std::string& name) const {
    std::vector<uint8_t> bytes = readFile(dir_ / name);
    return std::string(bytes.begin(), bytes.end());
  }

  TemporaryDirectory dir_;
  ServerKind kind_;
  int rate_;
  std::vector<pid_t> pids_;  // in the order they were started
  bool realTime_ = false;
  std::string failure_;
};

// Records the sink's monitor, at the sink's rate in the sink's format, into
// a file from construction until stop().
class MonitorRecorder {
 public:
  explicit MonitorRecorder(const SoundServer& server) : server_(server), path_(server.folder() / "monitor.raw") {
    const std::string rate = std::to_string(server.rate());
    pid_ = spawnWith({"parec", "--device=" + std::string(SoundServer::kSink) + ".monitor", "--raw",
                      "--format=s16le", "--rate=" + rate, "--channels=2", "--channel-map=front-left,front-right",
                      "--latency-msec=20"},
                     server.clientEnvironmentStrings(), path_, server.folder() / "parec.err");
    long long end = nowMs() + 10000;
    for (;;) {
      std::optional<std::string> recorders = server.control({"list", "short", "source-outputs"});
      if (recorders && !recorders->empty()) break;
      if (nowMs() >= end || waitpid(pid_, nullptr, WNOHANG) != 0) {
        std::vector<uint8_t> err = readFile(server.folder() / "parec.err");
        failure_ = "parec did not connect (apt-get install pulseaudio-utils)\n" + std::string(err.begin(), err.end());
        break;
      }
      usleep(10000);
    }
    // An idle PulseAudio null sink renders up to two seconds ahead, and a
    // stream that starts meanwhile waits until that time has passed.
    // Suspended and resumed, it keeps to the recorder's short blocks from now on.
    if (failure_.empty() && server.kind() == ServerKind::pulseAudio &&
        !(server.control({"suspend-sink", SoundServer::kSink, "1"}) &&
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

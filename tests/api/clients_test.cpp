// Programs built on the C interface as its users build them: examples/sdl_play
// pulls its sound through SDL2's audio callback into the disk driver's file,
// which must hold the library's looping stream unchanged, whatever the
// callback's size and however play is ended.
#include <gtest/gtest.h>
#include <zelvix/zelvix.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/program_runner.h"
#include "support/module_writer.h"

namespace zv::test {
namespace {

// Two order entries of four rows at speed 3 (a row is 60 ms at tempo 125),
// restarting at the second: the song wraps every 0.24 s after its first
// 0.48 s, so a second of play passes the wrap several times.
std::vector<uint8_t> wrappingSong() {
  XmModulePlan plan;
  plan.name = "clients";
  plan.channelCount = 2;
  plan.songLength = 2;
  plan.restartPosition = 1;
  plan.orderList[0] = 0;
  plan.orderList[1] = 1;
  plan.speed = 3;
  XmSamplePlan square = squareSample(64, 16, 90);
  square.loopKind = 1;
  square.loopLength = 64;
  plan.instruments.push_back(instrumentWith(square));
  plan.patterns.resize(2);
  for (int p = 0; p < 2; ++p) {
    plan.patterns[static_cast<size_t>(p)].rows = 4;
    for (int row = 0; row < 4; ++row) {
      NoteCell& c = plan.cell(p, row, row % 2);
      c.note = static_cast<uint8_t>(49 + 5 * p + row);
      c.instrument = 1;
    }
  }
  return writeXm(plan);
}

// Runs sdl_play with `args` into the disk driver's file `device`, standard
// input /dev/null and its output into `log`. With `stopAfterBytes` above 0
// it sends SIGTERM once the file holds that much. Returns the exit status,
// -1 when it did not exit normally within 60 s.
int playIntoFile(const std::vector<std::string>& args, const std::string& device, const std::string& log,
                 long long stopAfterBytes) {
  const pid_t pid = fork();
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in == -1 || out == -1) _exit(125);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", device.c_str(), 1);
    unsetenv("SDL_DISKAUDIODELAY");  // the driver's own pacing: a buffer's time per buffer
    std::vector<char*> argv{const_cast<char*>(ZELVIX_SDL_PLAY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ZELVIX_SDL_PLAY, argv.data());
    _exit(127);
  }
  if (pid < 0) return -1;
  const long long end = nowMs() + 60000;
  bool signalled = false;
  while (nowMs() < end) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (stopAfterBytes > 0 && !signalled && fileSize(device) >= stopAfterBytes) {
      kill(pid, SIGTERM);
      signalled = true;
    }
    usleep(5000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

std::string textOf(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The library's ZV_END_LOOP stream of `module` at `frequency`: `frames`
// frames in one call (empty if the call gives fewer).
std::vector<uint8_t> loopStream(const std::vector<uint8_t>& module, int32_t frequency, size_t frames) {
  zv_settings settings;
  zv_default_settings(&settings);
  settings.frequency = frequency;
  zv_module* m = zv_load_memory(module.data(), module.size(), &settings, nullptr);
  std::vector<uint8_t> bytes(frames * 4);
  std::vector<int16_t> samples(frames * 2);
  const bool whole = m != nullptr && zv_set_end_mode(m, ZV_END_LOOP) == ZV_OK &&
                     zv_render(m, samples.data(), frames) == frames;
  zv_free(m);
  if (!whole) return {};
  std::memcpy(bytes.data(), samples.data(), bytes.size());
  return bytes;
}

// The frames of one ZV_END_STOP pass through the song.
uint64_t songFrames(const std::vector<uint8_t>& module, int32_t frequency) {
  zv_settings settings;
  zv_default_settings(&settings);
  settings.frequency = frequency;
  zv_module* m = zv_load_memory(module.data(), module.size(), &settings, nullptr);
  const uint64_t frames = zv_duration_frames(m);
  zv_free(m);
  return frames;
}

// A paused SDL device plays silence, so whole silent buffers may come before
// the stream when the audio thread runs before the device is unpaused. The
// number of such buffers after which `file` holds exactly the start of
// `stream`; -1 when no count does.
long silentBuffersBefore(const std::vector<uint8_t>& file, const std::vector<uint8_t>& stream, size_t bufferFrames) {
  const size_t buffer = bufferFrames * 4;
  for (size_t silent = 0; silent + buffer <= file.size() && file.size() <= stream.size(); silent += buffer) {
    if (std::memcmp(file.data() + silent, stream.data(), file.size() - silent) == 0) {
      return static_cast<long>(silent / buffer);
    }
    if (std::any_of(file.begin() + static_cast<long>(silent), file.begin() + static_cast<long>(silent + buffer),
                    [](uint8_t b) { return b != 0; })) {
      break;
    }
  }
  return -1;
}

// Each case plays for a time (-t) or until SIGTERM, with a callback size
// that is a power of two or not, at two frequencies. The device file is whole
// buffers that pass the song's wrap at least twice, and byte for byte the
// library's stream rendered here in one call.
TEST(SdlPlay, DeviceFileIsTheLoopingStream) {
  struct Case {
    int bufferFrames, frequency;
    bool bySignal;
  };
  const Case cases[] = {{256, 44100, false},  {1000, 44100, false}, {4096, 44100, false},
                        {256, 48000, false},  {1000, 48000, false}, {4096, 48000, false},
                        {1000, 44100, true}};
  TemporaryDirectory dir;
  ASSERT_FALSE(dir.path().empty());
  const std::vector<uint8_t> song = wrappingSong();
  ASSERT_TRUE(writeFile(dir / "song.xm", song));
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bufferFrames) + " frames, " + std::to_string(c.frequency) + " Hz" +
                 (c.bySignal ? ", SIGTERM" : ", -t"));
    const uint64_t pass = songFrames(song, c.frequency);
    ASSERT_GT(pass, 0u);
    std::vector<std::string> args = {dir / "song.xm", "-b", std::to_string(c.bufferFrames), "-f",
                                     std::to_string(c.frequency)};
    if (!c.bySignal) args.insert(args.end(), {"-t", "1.2"});
    const long long stopAt = c.bySignal ? static_cast<long long>(3 * pass * 4) : 0;
    ASSERT_EQ(playIntoFile(args, dir / "device.raw", dir / "log.txt", stopAt), 0)
        << textOf(readFile(dir / "log.txt"));
    const std::vector<uint8_t> file = readFile(dir / "device.raw");
    const size_t frames = file.size() / 4;
    EXPECT_EQ(file.size() % (static_cast<size_t>(c.bufferFrames) * 4), 0u) << file.size();
    // The first wrap comes after one pass, the second half a pass later (the
    // restart plays the second entry only). 1.2 s of play pass it by a third,
    // room for a loaded machine, where the driver's thread writes late.
    EXPECT_GT(frames, pass + pass / 2 + static_cast<uint64_t>(c.bufferFrames));
    const std::vector<uint8_t> stream = loopStream(song, c.frequency, frames);
    ASSERT_EQ(stream.size(), file.size());
    const long silent = silentBuffersBefore(file, stream, static_cast<size_t>(c.bufferFrames));
    EXPECT_GE(silent, 0) << "the device file is not the library's stream";
    if (silent > 0) {
      std::printf("[ sdl_play ] %d frames, %d Hz: %ld silent buffers before the device was unpaused\n",
                  c.bufferFrames, c.frequency, silent);
    }
  }
}

}  // namespace
}  // namespace zv::test

// Render mode through the built program: the file beside the module, every
// kind of standard input, failures reported with status 1, and the ways a
// render is stopped early (SIGTERM, a key on the terminal).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frontend/program_runner.h"
#include "frontend/test_songs.h"

namespace zv::test {
namespace {

const char kRendering[] = "Rendering to WAV. If stuck forever, press any key to stop rendering...\n";

class RenderMode : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir.path().empty());
    ASSERT_TRUE(writeFile(modulePath(), writeXm(liveTestSong())));
  }
  std::string modulePath() const { return dir / "song.xm"; }
  std::string wavPath() const { return dir / "song.xm.wav"; }
  ProgramRun renderRun(StandardInput input = StandardInput::devNull) const {
    ProgramRun r;
    r.args = {modulePath(), "--render-to-wav", "-f", "22050"};
    r.standardInput = input;
    return r;
  }
  TemporaryDirectory dir;
};

TEST_F(RenderMode, WritesTheModuleNameWithWavAppended) {
  Finished f = runToEnd(renderRun());
  EXPECT_EQ(f.output, kRendering);
  EXPECT_EQ(f.status, 0);
  WavFile wav = readWav(wavPath());
  EXPECT_TRUE(wav.valid);
  EXPECT_EQ(wav.sampleRate, 22050u);
  // Three patterns of 64 rows, 3 ticks a row, 441 frames a tick at 22050 Hz.
  EXPECT_EQ(wav.dataSize, 3u * 64 * 3 * 441 * 4);
}

TEST_F(RenderMode, ModModuleRendersBesideItself) {
  ModModulePlan mod;
  mod.samples.push_back({"tone", std::vector<int8_t>(512, 40), 0, 64, 0, 256, {}});
  mod.cell(0, 0, 0) = ModCell{428, 1, 0, 0};
  ASSERT_TRUE(writeFile(dir / "song.mod", writeMod(mod)));
  ProgramRun r;
  r.args = {dir / "song.mod", "--render-to-wav"};
  Finished f = runToEnd(r);
  EXPECT_EQ(f.output, kRendering);
  EXPECT_EQ(f.status, 0);
  WavFile wav = readWav(dir / "song.mod.wav");
  EXPECT_TRUE(wav.valid);
  EXPECT_EQ(wav.sampleRate, 44100u);
  EXPECT_GT(wav.dataSize, 0u);
}

TEST_F(RenderMode, OptionNamesInCapitalsAndWavSuffixOnTheWholePath) {
  ASSERT_TRUE(writeFile(dir / "tune.MOD.xm", writeXm(liveTestSong())));
  ProgramRun r;
  r.args = {dir / "tune.MOD.xm", "--RENDER-TO-WAV", "-F", "8000"};
  Finished f = runToEnd(r);
  EXPECT_EQ(f.status, 0);
  WavFile wav = readWav(dir / "tune.MOD.xm.wav");
  EXPECT_TRUE(wav.valid);
  EXPECT_EQ(wav.sampleRate, 8000u);
}

// A render must end on its own whatever standard input is: a pipe that stays
// open without data, no input at all, or a closed descriptor.
TEST_F(RenderMode, FinishesWithAnyNonTerminalInput) {
  for (StandardInput input : {StandardInput::openPipe, StandardInput::devNull, StandardInput::closed}) {
    std::filesystem::remove(wavPath());
    Finished f = runToEnd(renderRun(input), 30000);
    EXPECT_EQ(f.output, kRendering) << static_cast<int>(input);
    EXPECT_EQ(f.status, 0) << static_cast<int>(input);
    EXPECT_TRUE(readWav(wavPath()).valid) << static_cast<int>(input);
  }
}

// Standard output is a pipe nobody reads any more (as with "| head -c 0"):
// the message is lost, but the render still completes and exits normally.
TEST_F(RenderMode, ClosedOutputPipeDoesNotKillTheRender) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  close(out[0]);
  ProgramRun r = renderRun();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(out[1], 1);
    close(out[1]);
    int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    execZelvix(r);
  }
  close(out[1]);
  int wstatus = 0;
  ASSERT_EQ(waitpid(pid, &wstatus, 0), pid);
  EXPECT_EQ(exitStatusOf(wstatus), 0);
  WavFile wav = readWav(wavPath());
  EXPECT_TRUE(wav.valid);
  EXPECT_EQ(wav.dataSize, 3u * 64 * 3 * 441 * 4);
}

TEST_F(RenderMode, FileThatCannotBeCreatedIsAnError) {
  std::filesystem::create_directory(wavPath());  // the name is taken by a directory
  Finished f = runToEnd(renderRun());
  EXPECT_EQ(f.output, std::string(kRendering) + "Error: Couldn't create WAV file!\n");
  EXPECT_EQ(f.status, 1);

  std::filesystem::remove(wavPath());
  std::filesystem::create_symlink(dir / "no-such-directory/out.wav", wavPath());
  f = runToEnd(renderRun());
  EXPECT_EQ(f.output, std::string(kRendering) + "Error: Couldn't create WAV file!\n");
  EXPECT_EQ(f.status, 1);
}

TEST_F(RenderMode, FullDeviceIsAWriteError) {
  std::filesystem::create_symlink("/dev/full", wavPath());
  Finished f = runToEnd(renderRun());
  EXPECT_EQ(f.output, std::string(kRendering) + "Error: Couldn't write WAV file!\n");
  EXPECT_EQ(f.status, 1);
}

// A file-size limit (ulimit -f) is a write error like any other, not the
// end of the program by SIGXFSZ: the terminal is restored, and the file is
// cut back to the whole frames written, which its header counts.
TEST_F(RenderMode, FileSizeLimitIsAWriteError) {
  ASSERT_EQ(runToEnd(renderRun()).status, 0);
  const WavFile whole = readWav(wavPath());
  ASSERT_TRUE(whole.valid);
  std::filesystem::remove(wavPath());
  ProgramRun r = renderRun();
  constexpr long long kLimit = 300001;  // inside a block, and inside a frame
  r.fileSizeLimit = kLimit;
  TerminalProgram t(r);
  ASSERT_TRUE(t.started());
  EXPECT_EQ(t.finish(20000), 1);
  EXPECT_EQ(t.output(), withCrLf(std::string(kRendering) + "Error: Couldn't write WAV file!\n"));
  const termios before = t.settingsBefore();
  const termios after = t.settings();
  EXPECT_EQ(before.c_lflag, after.c_lflag);
  EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
  const WavFile cut = readWav(wavPath());
  EXPECT_TRUE(cut.valid);
  EXPECT_EQ(cut.dataSize, static_cast<uint32_t>(kLimit - 44) & ~3u);
  ASSERT_LE(cut.samples.size(), whole.samples.size());
  EXPECT_TRUE(std::equal(cut.samples.begin(), cut.samples.end(), whole.samples.begin()));
}

TEST_F(RenderMode, TerminatingSignalsEndALongRenderWithACompleteFile) {
  ASSERT_TRUE(writeFile(modulePath(), writeXm(longTestSong())));
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(sig);
    std::filesystem::remove(wavPath());
    RunningProgram p(renderRun(StandardInput::openPipe));
    ASSERT_TRUE(p.waitUntil([&] { return fileSize(wavPath()) > 1000000; }, 20000));
    p.signal(sig);
    EXPECT_EQ(p.finish(20000), 0);
    EXPECT_EQ(p.output(), kRendering);
    WavFile wav = readWav(wavPath());
    EXPECT_TRUE(wav.valid);
    EXPECT_GT(wav.dataSize, 1000000u);
  }
}

TEST_F(RenderMode, AnyKeyOnTheTerminalStopsTheRender) {
  ASSERT_TRUE(writeFile(modulePath(), writeXm(longTestSong())));
  TerminalProgram t(renderRun());
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("press any key to stop rendering...\r\n", 10000));
  ASSERT_TRUE(t.waitUntil([&] { return fileSize(wavPath()) > 100000; }, 10000));
  // Raw mode clears ICANON, ISIG and ECHO and leaves every other setting. The
  // render thread writes before the main thread sets raw mode, so that is
  // waited for; VMIN is 0 only for the moment of a poll, so a reading that
  // catches it is taken again.
  termios raw{};
  ASSERT_TRUE(t.waitUntil(
      [&] {
        raw = t.settings();
        return (raw.c_lflag & ICANON) == 0 && raw.c_cc[VMIN] == 1;
      },
      10000));
  termios expected = t.settingsBefore();
  expected.c_lflag &= ~static_cast<tcflag_t>(ICANON | ISIG | ECHO);
  expected.c_cc[VMIN] = 1;
  expected.c_cc[VTIME] = 0;
  EXPECT_EQ(raw.c_lflag, expected.c_lflag);
  EXPECT_EQ(0, std::memcmp(&raw, &expected, sizeof raw));
  t.type("q");
  EXPECT_EQ(t.finish(10000), 0);
  // The terminal turns the newline into CR LF; nothing else is printed.
  EXPECT_EQ(t.output(), "Rendering to WAV. If stuck forever, press any key to stop rendering...\r\n");
  EXPECT_TRUE(readWav(wavPath()).valid);
  termios before = t.settingsBefore();
  termios after = t.settings();
  EXPECT_EQ(before.c_lflag, after.c_lflag);
  EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
}

// Into a FIFO (mkfifo song.xm.wav). A stop ends the render within about a
// second whatever the output waits for; a FIFO cannot take the sizes, so
// the render then ends as on a write error.
class RenderIntoFifo : public RenderMode {
 protected:
  void SetUp() override {
    RenderMode::SetUp();
    ASSERT_EQ(mkfifo(wavPath().c_str(), 0600), 0);
  }
  void TearDown() override {
    if (reader != -1) close(reader);
  }
  // Opens the reading end without waiting for the writer.
  void openReader() {
    reader = open(wavPath().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_NE(reader, -1);
  }
  // Reads until `limit` bytes came, the writer closed or `timeoutMs` passed.
  std::vector<uint8_t> readUpTo(size_t limit, int timeoutMs) {
    std::vector<uint8_t> bytes;
    const long long end = nowMs() + timeoutMs;
    std::vector<uint8_t> buffer(65536);
    while (bytes.size() < limit && nowMs() < end) {
      pollfd p{reader, POLLIN, 0};
      if (poll(&p, 1, 20) != 1) continue;
      const ssize_t n = read(reader, buffer.data(), std::min(buffer.size(), limit - bytes.size()));
      if (n == 0 && (p.revents & POLLHUP) != 0) break;  // the writer closed
      if (n > 0) bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
    }
    return bytes;
  }
  // The program, stopped by `stop`, ends within 2 s with the write error.
  void expectStoppedWithWriteError(RunningProgram& p, const std::function<void()>& stop) {
    stop();
    const long long stoppedAt = nowMs();
    EXPECT_EQ(p.finish(2000), 1);
    EXPECT_LT(nowMs() - stoppedAt, 2000);
    EXPECT_EQ(p.output(), std::string(kRendering) + "Error: Couldn't write WAV file!\n");
  }
  int reader = -1;
};

// The render waits for its reader as an ordinary open does; the reader then
// gets the render's bytes, with the sizes left 0.
TEST_F(RenderIntoFifo, ReaderThatComesLaterGetsTheWholeRender) {
  RunningProgram p(renderRun());
  ASSERT_TRUE(p.waitUntil([&] { return p.output() == kRendering; }, 10000));
  p.waitUntil([] { return false; }, 300);  // the render waits for its reader
  openReader();
  const std::vector<uint8_t> streamed = readUpTo(100000000, 30000);
  EXPECT_EQ(p.finish(10000), 1);
  EXPECT_EQ(p.output(), std::string(kRendering) + "Error: Couldn't write WAV file!\n");
  close(reader);
  reader = -1;
  std::filesystem::remove(wavPath());
  ASSERT_EQ(runToEnd(renderRun()).status, 0);
  std::vector<uint8_t> expected = readFile(wavPath());
  ASSERT_GT(expected.size(), 44u);
  std::fill(expected.begin() + 4, expected.begin() + 8, 0);
  std::fill(expected.begin() + 40, expected.begin() + 44, 0);
  EXPECT_TRUE(streamed == expected) << streamed.size() << " bytes, not " << expected.size();
}

TEST_F(RenderIntoFifo, SignalEndsTheWaitForAReader) {
  RunningProgram p(renderRun());
  ASSERT_TRUE(p.waitUntil([&] { return p.output() == kRendering; }, 10000));
  p.waitUntil([] { return false; }, 300);
  expectStoppedWithWriteError(p, [&] { p.signal(SIGTERM); });
}

TEST_F(RenderIntoFifo, SignalEndsTheWaitForAReaderThatStoppedReading) {
  ASSERT_TRUE(writeFile(modulePath(), writeXm(longTestSong())));
  openReader();
  RunningProgram p(renderRun());
  EXPECT_EQ(readUpTo(65536, 10000).size(), 65536u);
  p.waitUntil([] { return false; }, 300);  // the FIFO fills up
  expectStoppedWithWriteError(p, [&] { p.signal(SIGTERM); });
}

TEST_F(RenderIntoFifo, KeyEndsTheWaitForAReader) {
  TerminalProgram t(renderRun());
  ASSERT_TRUE(t.started());
  ASSERT_TRUE(t.waitFor("press any key to stop rendering...\r\n", 10000));
  ASSERT_TRUE(t.waitUntil([&] { return (t.settings().c_lflag & ICANON) == 0; }, 10000));
  t.type("q");
  const long long stoppedAt = nowMs();
  EXPECT_EQ(t.finish(2000), 1);
  EXPECT_LT(nowMs() - stoppedAt, 2000);
  EXPECT_EQ(t.output(), withCrLf(std::string(kRendering) + "Error: Couldn't write WAV file!\n"));
  const termios before = t.settingsBefore();
  const termios after = t.settings();
  EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
}

// Started with "&" from an interactive shell, the render leaves the terminal
// alone (setting it up would stop the program with SIGTTOU, reading a key
// with SIGTTIN) and runs to its end; SIGTERM still stops a long one.
TEST_F(RenderMode, InTheBackgroundRendersWithoutTouchingTheTerminal) {
  TerminalProgram t(renderRun(), true);
  ASSERT_TRUE(t.started());
  EXPECT_EQ(t.finish(30000), 0);
  EXPECT_EQ(t.output(), "Rendering to WAV. If stuck forever, press any key to stop rendering...\r\n");
  WavFile wav = readWav(wavPath());
  EXPECT_TRUE(wav.valid);
  EXPECT_EQ(wav.dataSize, 3u * 64 * 3 * 441 * 4);
  termios before = t.settingsBefore();
  termios after = t.settings();
  EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));

  ASSERT_TRUE(writeFile(modulePath(), writeXm(longTestSong())));
  TerminalProgram l(renderRun(), true);
  ASSERT_TRUE(l.waitUntil([&] { return fileSize(wavPath()) > 1000000; }, 20000));
  l.type("q");  // not read: the key would stop a render in the foreground
  l.pause(300);
  EXPECT_EQ(waitpid(l.pid(), nullptr, WNOHANG), 0);
  l.signal(SIGTERM);
  EXPECT_EQ(l.finish(20000), 0);
  EXPECT_TRUE(readWav(wavPath()).valid);
  after = l.settings();
  EXPECT_EQ(0, std::memcmp(&before, &after, sizeof before));
}

}  // namespace
}  // namespace zv::test

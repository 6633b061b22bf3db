#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/module_writer.h"

namespace zv::test {
namespace {

struct TraceRun {
  int status = -1;
  std::vector<std::string> lines;
};

// Runs zvtrace with `args`, collecting its standard output by lines.
TraceRun runTrace(const std::string& args) {
  TraceRun run;
  const std::string command = std::string(ZVTRACE_EXECUTABLE) + " " + args + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  std::string text;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
  const int raw = pclose(pipe);
  run.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) run.lines.push_back(line);
  return run;
}

std::string tempModule(const std::vector<uint8_t>& bytes) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("zvtrace_test_" + std::to_string(getpid()) + ".xm")).string();
  EXPECT_TRUE(writeFile(path, bytes));
  return path;
}

// Two channels, speed 2, one pattern of two rows; channel 0 starts note 49
// of a plain instrument on row 0.
std::vector<uint8_t> twoRowSong() {
  XmModulePlan plan;
  plan.channelCount = 2;
  plan.speed = 2;
  XmPatternPlan pattern;
  pattern.rows = 2;
  pattern.cells.resize(4);
  pattern.cells[0] = {49, 1, 0, 0, 0};
  plan.patterns.push_back(pattern);
  plan.instruments.push_back(instrumentWith(squareSample(256)));
  return writeXm(plan);
}

TEST(Zvtrace, TracesAGeneratedSongUntilItWraps) {
  const std::string path = tempModule(twoRowSong());
  const TraceRun run = runTrace(path);
  std::filesystem::remove(path);
  ASSERT_EQ(run.status, 0);
  const std::vector<std::string> expected = {
      "0 0 0 0 2 2 125 64 256:128:4608:1f 0:128:0:01",
      "1 0 0 0 1 2 125 64 256:128:4608:00 0:128:0:01",
      "2 0 0 1 2 2 125 64 256:128:4608:00 0:128:0:01",
      "3 0 0 1 1 2 125 64 256:128:4608:00 0:128:0:01",
  };
  EXPECT_EQ(run.lines, expected);
}

TEST(Zvtrace, RunsExactlyTheTicksAskedFor) {
  const std::string path = tempModule(twoRowSong());
  const TraceRun run = runTrace("-n 7 " + path);
  const TraceRun none = runTrace("-n 0 " + path);
  std::filesystem::remove(path);
  ASSERT_EQ(run.status, 0);
  ASSERT_EQ(run.lines.size(), 7u);
  EXPECT_EQ(run.lines[4], "4 0 0 0 2 2 125 64 256:128:4608:1f 0:128:0:01");
  EXPECT_EQ(run.lines[6], "6 0 0 1 2 2 125 64 256:128:4608:00 0:128:0:01");
  EXPECT_EQ(none.status, 0);
  EXPECT_TRUE(none.lines.empty());
}

TEST(Zvtrace, HelpDocumentsTheLineFormat) {
  const TraceRun run = runTrace("--help");
  ASSERT_EQ(run.status, 0);
  std::string text;
  for (const std::string& line : run.lines) text += line + "\n";
  EXPECT_NE(text.find("tick position pattern row counter speed tempo gvol ch0 ch1 ..."), std::string::npos);
  EXPECT_NE(text.find("finalVolume:finalPanning:finalPeriod:status"), std::string::npos);
  const TraceRun version = runTrace("--version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.lines, std::vector<std::string>{"zvtrace " ZELVIX_VERSION});
}

TEST(Zvtrace, RejectsBadArgumentsAndUnloadableFiles) {
  EXPECT_EQ(runTrace("").status, 1);
  EXPECT_EQ(runTrace("-n").status, 1);
  EXPECT_EQ(runTrace("-n x song.xm").status, 1);
  EXPECT_EQ(runTrace("--bogus song.xm").status, 1);
  const TraceRun missing = runTrace("/nonexistent/zvtrace.xm");
  EXPECT_EQ(missing.status, 1);
  EXPECT_TRUE(missing.lines.empty());
}

// The first channel field whose finalVolume is above 256 or finalPanning
// above 255, or "" when every field of the line is in range.
std::string channelOutOfRange(const std::string& line) {
  std::istringstream fields(line);
  std::string field;
  for (int i = 0; i < 8 && fields >> field; ++i) {}  // tick .. gvol
  while (fields >> field) {
    unsigned volume = 0, panning = 0;
    if (std::sscanf(field.c_str(), "%u:%u:", &volume, &panning) != 2) return field;
    if (volume > 256 || panning > 255) return field;
  }
  return "";
}

// Under the sanitizer build a finding ends the run with a non-zero status.
// Every channel's output stays in range on every tick.
TEST(Zvtrace, RunsOverEveryCorpusModule) {
  const std::filesystem::path corpus(ZELVIX_CORPUS_DIR);
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  int traced = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".xm" && ext != ".mod") continue;
    const TraceRun run = runTrace("-l 40000 '" + entry.path().string() + "'");
    EXPECT_EQ(run.status, 0) << entry.path();
    EXPECT_FALSE(run.lines.empty()) << entry.path();
    for (const std::string& line : run.lines) {
      const std::string bad = channelOutOfRange(line);
      if (!bad.empty()) {
        ADD_FAILURE() << entry.path() << ": " << bad << " in " << line;
        break;
      }
    }
    traced++;
  }
  if (traced == 0) GTEST_SKIP() << "no modules in " << corpus;
}

}  // namespace
}  // namespace zv::test

// Inputs the fuzz targets once failed on, replayed through the same
// harness: tests/data/fuzz/<target>/ holds one file per finding, named after
// what it showed. Each must now load or fail cleanly and render without fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "support/hostile_input.h"
#include "support/module_writer.h"

namespace zv::test {
namespace {

std::vector<std::string> reproducers(const std::string& target) {
  std::vector<std::string> files;
  std::error_code ignored;
  const std::string folder = std::string(ZELVIX_SOURCE_DIR) + "/tests/data/fuzz/" + target;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ignored)) {
    if (entry.is_regular_file(ignored) && entry.path().filename().string()[0] != '.') {
      files.push_back(entry.path().string());
    }
  }
  std::sort(files.begin(), files.end());
  return files;
}

// Each finding on an engine of its own, as the fuzz targets run them.
void replayAll(const std::string& target, std::string (*run)(Engine&, const uint8_t*, size_t)) {
  for (const std::string& path : reproducers(target)) {
    const std::vector<uint8_t> bytes = readFile(path);
    Engine e;
    EXPECT_EQ(run(e, bytes.data(), bytes.size()), "") << path;
  }
}

TEST(FuzzRegressions, LoadFindings) { replayAll("load", runLoadInput); }
TEST(FuzzRegressions, RenderFindings) { replayAll("render", runRenderInput); }
TEST(FuzzRegressions, StructuredFindings) { replayAll("structured", runStructuredInput); }

}  // namespace
}  // namespace zv::test

// Writes the seed inputs of the fuzz targets into a folder: modules built by
// the module writer (each also with the render options appended in a few
// settings) and a few byte strings for the structured target.
#include <cstdio>
#include <string>
#include <vector>

#include "support/hostile_input.h"
#include "support/module_writer.h"
#include "support/sample_modules.h"

using namespace zv::test;

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds folder\n");
    return 1;
  }
  const std::string folder = argv[1];
  std::vector<std::pair<std::string, std::vector<uint8_t>>> modules = {
      {"xm0102", writeXm(generatedXm(0x0102))}, {"xm0103", writeXm(generatedXm(0x0103))},
      {"xm0104", writeXm(generatedXm(0x0104))}, {"commands", writeXm(everyCommandXm())},
      {"mod31", writeMod(generatedMod(false))}, {"mod15", writeMod(generatedMod(true))}};
  // Render options: 8 kHz ticks, 44.1 kHz live without interpolation, 96 kHz WAV.
  const std::vector<std::vector<uint8_t>> options = {
      {0x40, 0x0F, 0, 4, 255, 0x03, 0, 4}, {0x04, 0x9D, 0, 8, 128, 0x0A, 0x00, 0x04}, {0x00, 0x77, 1, 32, 0, 0x0F, 1, 0}};
  bool ok = true;
  for (const auto& [name, bytes] : modules) {
    ok = writeFile(folder + "/" + name, bytes) && ok;
    for (size_t i = 0; i < options.size(); ++i) {
      std::vector<uint8_t> withOptions = bytes;
      withOptions.insert(withOptions.end(), options[i].begin(), options[i].end());
      ok = writeFile(folder + "/" + name + "-options" + std::to_string(i), withOptions) && ok;
    }
  }
  for (int i = 0; i < 8; ++i) {
    std::vector<uint8_t> bytes(300);
    uint32_t x = 12345u + static_cast<uint32_t>(i);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>((x = x * 1664525u + 1013904223u) >> 24);
    ok = writeFile(folder + "/structured" + std::to_string(i), bytes) && ok;
  }
  return ok ? 0 : 1;
}

// The command line.
#pragma once

#include <cstdint>

namespace zv {

struct Options {
  const char* modulePath = nullptr;
  int32_t mixingFrequency = 44100;
  int32_t bufferSize = 1024;
  int32_t amp = 10;
  int32_t masterVolume = 256;
  bool noInterpolation = false;
  bool noVolumeRamping = false;
  bool renderToWav = false;
};

enum class ParseResult { run, usage };

// Fills `options` from argv; `usage` when no module is given or the sole
// argument is "-h" or "/?".
ParseResult parseOptions(int argc, char** argv, Options& options);

// The usage text, byte for byte.
extern const char usageText[];

}  // namespace zv

#include "frontend/options.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>

namespace zv {

const char usageText[] =
    "Usage:\n"
    "  zelvix input_module [-f hz] [-b buffersize] [-a amp] [-m mastervol]\n"
    "  zelvix input_module [--no-intrp] [--no-vramp] [--render-to-wav]\n"
    "\n"
    "  Options:\n"
    "    input_module     Specifies the module file to load (.XM/.MOD/.ZV supported)\n"
    "    -f hz            Specifies the mixing frequency (8000..96000)\n"
    "    -b buffersize    Specifies the mixing buffer size (256..8192)\n"
    "    -a amp           Specifies the mixing amplitude (1..32)\n"
    "    -m mastervol     Specifies the mixing master volume (0..256). This setting\n"
    "                     is ignored when rendering to WAV (always set to 256).\n"
    "    --no-intrp       Disables linear interpolation\n"
    "    --no-vramp       Disables volume ramping\n"
    "    --render-to-wav  Renders song to WAV instead of playing it. The output\n"
    "                     filename will be the input filename with .WAV added to the\n"
    "                     end.\n"
    "\n"
    "Default settings:\n"
    "  - Mixing frequency:         44100\n"
    "  - Mixing buffer size:       1024\n"
    "  - Amp:                      10\n"
    "  - Master volume:            256\n"
    "  - Linear interpolation:     On\n"
    "  - Volume ramping:           On\n"
    "  - WAV render mode:          Off\n"
    "\n";

namespace {

// The value of a numeric option, read as atoi reads it (leading white space,
// one optional sign, decimal digits up to the first other byte; none give 0)
// but saturated at the int32_t range, where atoi's result is undefined.
int32_t readNumber(const char* text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text);
  while (std::isspace(*p)) ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  constexpr int64_t kLimit = int64_t{INT32_MAX} + 1;  // the magnitude of INT32_MIN
  int64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) magnitude = std::min(kLimit, magnitude * 10 + (*p - '0'));
  if (negative) return static_cast<int32_t>(-magnitude);
  return static_cast<int32_t>(std::min<int64_t>(magnitude, INT32_MAX));
}

// Limits a numeric option: values below `lowBelow` become `low`, values from
// `high` on become `high`.
int32_t clampOption(int32_t value, int32_t lowBelow, int32_t low, int32_t high) {
  if (value < lowBelow) return low;
  if (value >= high) return high;
  return value;
}

void setFrequency(Options& o, int32_t v) { o.mixingFrequency = clampOption(v, 8001, 8000, 96000); }
void setBufferSize(Options& o, int32_t v) { o.bufferSize = clampOption(v, 257, 256, 8192); }
void setAmp(Options& o, int32_t v) { o.amp = clampOption(v, 2, 1, 32); }
void setMasterVolume(Options& o, int32_t v) { o.masterVolume = clampOption(v, 1, 0, 256); }
void setNoInterpolation(Options& o, int32_t) { o.noInterpolation = true; }
void setNoVolumeRamping(Options& o, int32_t) { o.noVolumeRamping = true; }
void setRenderToWav(Options& o, int32_t) { o.renderToWav = true; }

struct OptionName {
  const char* name;
  bool takesValue;
  void (*apply)(Options&, int32_t);
};

// Compared in this order; the first match decides.
const OptionName optionNames[] = {
    {"-f", true, setFrequency},
    {"-b", true, setBufferSize},
    {"-a", true, setAmp},
    {"-m", true, setMasterVolume},
    {"--no-intrp", false, setNoInterpolation},
    {"--no-vramp", false, setNoVolumeRamping},
    {"--render-to-wav", false, setRenderToWav},
};

bool isHelpRequest(const char* arg) {
  return std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "/?") == 0;
}

// Examines argv[i] as an option; a numeric option takes argv[i + 1] as its
// value only when there is one. The value is examined again on its own turn.
void examineArgument(int argc, char** argv, int i, Options& options) {
  for (const OptionName& option : optionNames) {
    if (strcasecmp(argv[i], option.name) != 0) continue;
    if (!option.takesValue) {
      option.apply(options, 0);
    } else if (i + 1 < argc) {
      option.apply(options, readNumber(argv[i + 1]));
    }
    return;
  }
}

}  // namespace

ParseResult parseOptions(int argc, char** argv, Options& options) {
  if (argc < 2) return ParseResult::usage;
  if (argc == 2) {
    if (isHelpRequest(argv[1])) return ParseResult::usage;
    options.modulePath = argv[1];
    return ParseResult::run;
  }
  options.modulePath = argv[1];
  for (int i = 1; i < argc; ++i) examineArgument(argc, argv, i, options);
  return ParseResult::run;
}

}  // namespace zv

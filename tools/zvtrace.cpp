// zvtrace: runs the replayer over a module without sound and prints its
// state after every tick, for finding where playback goes wrong.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "audio/player.h"
#include "audio/wav_render.h"
#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "mixer/voices.h"
#include "replayer/tick_engine.h"

namespace {

constexpr long kDefaultLimit = 200000;

const char* const kUsage =
    "Usage: zvtrace [-n ticks] [-l limit] [-f hz] module\n"
    "\n"
    "Loads the module, sets the replayer up as for playback and runs one\n"
    "replayer tick after another, printing one line per tick:\n"
    "\n"
    "  tick position pattern row counter speed tempo gvol ch0 ch1 ...\n"
    "\n"
    "  tick      tick index, from 0\n"
    "  position  songPosition  \\\n"
    "  pattern   patternNumber  | the row this tick played (read before it)\n"
    "  row       row           /\n"
    "  counter   tickCounter   \\\n"
    "  speed     speed          | read after the tick\n"
    "  tempo     tempo          |\n"
    "  gvol      globalVolume  /\n"
    "  chN       one field per channel of the song, read after the tick:\n"
    "            finalVolume:finalPanning:finalPeriod:status, the numbers\n"
    "            in decimal, status as the two hexadecimal digits the\n"
    "            voice layer is sent (01 volume, 02 period, 04 note,\n"
    "            08 panning, 10 quick ramp), which is then sent and cleared\n"
    "\n"
    "Fields are separated by one space. Without -n the trace stops where a\n"
    "render ends: after the tick that sets speed 0, or after the tick whose\n"
    "move to a song position (the next entry, the wrap to the restart\n"
    "position, a jump or a break) lands on a row already played at that\n"
    "position, never while a pattern delay repeats a row; or after `limit`\n"
    "ticks.\n"
    "\n"
    "  -n ticks  run exactly this many ticks\n"
    "  -l limit  most ticks without -n (default 200000)\n"
    "  -f hz     mixing frequency (default 44100)\n"
    "  -h        this text (also --help)\n"
    "  --version the program's name and version\n"
    "\n"
    "Exit status 0, or 1 when the arguments are wrong or the module does not load.\n";

bool parseCount(const char* text, long& out) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 0) return false;
  out = value;
  return true;
}

void printTick(const zv::Engine& e, long tick, int position, int pattern, int row) {
  const zv::Song& song = e.song;
  std::printf("%ld %d %d %d %u %u %u %u", tick, position, pattern, row, song.tickCounter,
              song.speed, song.tempo, song.globalVolume);
  for (int i = 0; i < song.channelCount && i < zv::kMaxChannels; i++) {
    const zv::Channel& ch = e.channels[i];
    std::printf(" %u:%u:%u:%02x", ch.finalVolume, ch.finalPanning, ch.finalPeriod, ch.status);
  }
  std::putchar('\n');
}

}  // namespace

int main(int argc, char** argv) {
  long ticks = -1;
  long limit = kDefaultLimit;
  long frequency = 44100;
  const char* path = nullptr;
  for (int i = 1; i < argc; i++) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--version") == 0) {
      std::puts("zvtrace " ZELVIX_VERSION);
      return 0;
    }
    long* target = nullptr;
    if (std::strcmp(arg, "-n") == 0) target = &ticks;
    if (std::strcmp(arg, "-l") == 0) target = &limit;
    if (std::strcmp(arg, "-f") == 0) target = &frequency;
    if (target != nullptr) {
      if (i + 1 >= argc || !parseCount(argv[i + 1], *target)) {
        std::fputs(kUsage, stderr);
        return 1;
      }
      i++;
    } else if (path == nullptr && arg[0] != '-') {
      path = arg;
    } else {
      std::fputs(kUsage, stderr);
      return 1;
    }
  }
  if (path == nullptr) {
    std::fputs(kUsage, stderr);
    return 1;
  }

  // As the render does it: set-up, load, then the render state without the
  // device (voices and channels reset, global volume 64, the end tests cleared).
  const std::unique_ptr<zv::Engine> engine(new (std::nothrow) zv::Engine());
  if (engine == nullptr) {
    std::fputs("zvtrace: out of memory\n", stderr);
    return 1;
  }
  zv::Engine& e = *engine;
  zv::setupReplayer(e, static_cast<int32_t>(frequency), 1024, true, true);
  if (!zv::loadModuleFile(e, path)) {
    std::fprintf(stderr, "zvtrace: cannot load %s\n", path);
    return 1;
  }
  zv::prepareRender(e, e.player.mixingFrequency, e.player.amp, 0);

  const long count = ticks >= 0 ? ticks : limit;
  zv::songEndReached(e);  // the render's test also records the first row start
  for (long tick = 0; tick < count; tick++) {
    const int position = e.song.songPosition;
    const int pattern = e.song.patternNumber;
    const int row = e.song.row;
    zv::finishVoiceRamps(e);
    zv::playerTick(e);
    printTick(e, tick, position, pattern, row);
    zv::sendChannelUpdates(e);
    if (zv::songEndReached(e) && ticks < 0) break;
  }
  zv::freeSong(e);
  return 0;
}

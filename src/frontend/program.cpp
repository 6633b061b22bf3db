#include "frontend/program.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "audio/device.h"
#include "audio/player.h"
#include "audio/wav_render.h"
#include "frontend/console.h"
#include "frontend/options.h"
#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "replayer/song.h"

namespace zv {

static_assert(std::atomic<bool>::is_always_lock_free, "renderActive is written by a signal handler");

namespace {

void onTerminate(int) {
  running = false;
  renderActive = false;
}

// SIGTERM, and the interrupt, quit and hang-up signals sent from outside (a
// kill from another shell, a closed terminal window), end play or a render
// cleanly, so the terminal is restored. In raw mode the interrupt and quit
// keys raise no signal: they are ordinary keys.
void installSignalHandlers() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = onTerminate;
  action.sa_flags = 0;
  sigemptyset(&action.sa_mask);
  for (int signalNumber : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaction(signalNumber, &action, nullptr);
  // A closed standard output (a pipe whose reader quit) must not kill the
  // program while the terminal is in raw mode; output is then just lost.
  signal(SIGPIPE, SIG_IGN);
  // Nor may a file-size limit (ulimit -f): the write fails with EFBIG and the
  // render ends as on any write error, its sizes written into the header.
  signal(SIGXFSZ, SIG_IGN);
}

// The options that are not the player's initial values are applied.
void applyOptions(const Options& options) {
  if (options.amp != 4) setAmp(options.amp);
  if (options.masterVolume != 256) setMasterVolume(options.masterVolume);
}

// The module path with ".wav" appended; null when out of memory.
char* makeWavFileName(const char* modulePath) {
  size_t length = std::strlen(modulePath);
  char* name = static_cast<char*>(std::malloc(length + 5));
  if (name == nullptr) return nullptr;
  std::memcpy(name, modulePath, length);
  std::memcpy(name + length, ".wav", 5);
  return name;
}

const char* renderFailureMessage(RenderResult result) {
  switch (result) {
    case RenderResult::ok: return nullptr;
    case RenderResult::cannotCreateFile: return "Error: Couldn't create WAV file!";
    case RenderResult::writeError: return "Error: Couldn't write WAV file!";
    case RenderResult::outOfMemory: return "Error: Out of memory!";
  }
  return "Error: Couldn't write WAV file!";
}

// Renders on the render thread while watching the keyboard every 200 ms; any
// key stops the render. A render that failed is reported and gives status 1.
// Entered with renderActive set.
int renderMode(const Options& options) {
  char* wavFileName = makeWavFileName(options.modulePath);
  if (wavFileName == nullptr) {
    renderActive = false;
    std::printf("Error: Out of memory!\n");
    freeSong();
    return 1;
  }
  if (!startRenderThread(wavFileName)) {
    renderActive = false;
    std::printf("Error: Couldn't create WAV rendering thread!\n");
    std::free(wavFileName);
    freeSong();
    return 1;
  }
  std::printf("Rendering to WAV. If stuck forever, press any key to stop rendering...\n");
  std::fflush(stdout);
  enterRawMode();
  while (renderActive) {
    // Woken as soon as the render ends, so the program exits as soon as the
    // file is complete, while the keyboard is still polled at the same pace.
    waitWhileRendering(200);
    if (keyPressed()) renderActive = false;
  }
  restoreTerminal();
  joinRenderThread();
  std::free(wavFileName);
  freeSong();
  const char* failure = renderFailureMessage(lastRenderResult());
  if (failure == nullptr) return 0;
  std::printf("%s\n", failure);
  return 1;
}

// The module name as the information block shows it: every control byte
// (0x01-0x1F, 0x7F, 0x80-0x9F) as ".", so that a name cannot clear the
// screen, move the cursor or retitle the terminal. Ends at the name's zero.
void printableName(const char* name, char (&shown)[sizeof song.name]) {
  size_t i = 0;
  for (; i + 1 < sizeof shown && name[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    const bool control = byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
    shown[i] = control ? '.' : name[i];
  }
  shown[i] = '\0';
}

void printInformationBlock(const Options& options) {
  std::printf("Playing, press ESC to stop...\n");
  std::printf("\n");
  std::printf("Controls:\n");
  std::printf("Esc=Quit   Space=Toggle Pause   Plus = inc. song pos   Minus = dec. song pos\n");
  std::printf("\n");
  std::printf("Mixing frequency: %dHz\n", player.mixingFrequency);
  std::printf("Linear interpolation: %s\n", options.noInterpolation ? "Off" : "On");
  std::printf("Volume ramping: %s\n", options.noVolumeRamping ? "Off" : "On");
  std::printf("Mixing amp: %d\n", getAmp());
  std::printf("Mixing volume: %d\n", getMasterVolume());
  std::printf("\n");
  char name[sizeof song.name];
  printableName(song.name, name);
  std::printf("Name: %s\n", name);
  std::printf("Channels: %d\n", song.channelCount);
  std::printf("Instruments: %d\n", song.instrumentCount);
  std::printf("Song length: %d (restart pos: %d)\n", song.songLength, song.restartPosition);
  std::printf("\n");
  std::printf("- STATUS -\n");
  std::fflush(stdout);
}

// Plays through the audio device with the status line and the keys until Esc,
// a terminating signal or the loss of the device.
int livePlay(const Options& options) {
  // The restart closes and opens the device again, which can fail as well.
  if (!startPlayback() || !restartPlayback()) {
    std::printf("Error: Couldn't start the audio system!\n");
    freeSong();
    return 1;
  }
  printInformationBlock(options);
  enterRawMode();
  runStatusLoop();
  // A device lost during play (the sound server quit) ends play as Esc does,
  // but the status tells that it did not end by request.
  const bool lost = audioDeviceLost();
  restoreTerminal();
  std::printf("\n");
  stopPlayback();
  freeSong();
  std::printf("Playback stopped.\n");
  return lost ? 1 : 0;
}

}  // namespace

int runProgram(int argc, char** argv) {
  Options options;
  if (parseOptions(argc, argv, options) == ParseResult::usage) {
    std::fputs(usageText, stdout);
    return 1;
  }
  if (!setupReplayer(options.mixingFrequency, options.bufferSize, !options.noInterpolation,
                     !options.noVolumeRamping)) {
    std::printf("Error: Out of memory while setting up replayer!\n");
    return 1;
  }
  if (!loadModuleFile(options.modulePath)) {
    std::printf("Error: Couldn't load song!\n");
    return 1;
  }
  applyOptions(options);
  // Both run flags are set before the handler exists, so that a signal
  // arriving while playback or the render starts is never overwritten: it
  // ends the status loop at its first pass, or the render before its first tick.
  running = true;
  renderActive = options.renderToWav;
  installSignalHandlers();
  return options.renderToWav ? renderMode(options) : livePlay(options);
}

}  // namespace zv

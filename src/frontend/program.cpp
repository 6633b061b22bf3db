#include "frontend/program.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "audio/device.h"
#include "audio/player.h"
#include "audio/wav_render.h"
#include "frontend/console.h"
#include "frontend/options.h"
#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "replayer/engine.h"

namespace zv {

namespace {

// The one thing a signal does: the program's run flag, which the status loop
// and the render wait watch.
void onTerminate(int) { running = false; }

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
void applyOptions(Engine& e, const Options& options) {
  if (options.amp != 4) setAmp(e, options.amp);
  if (options.masterVolume != 256) setMasterVolume(e, options.masterVolume);
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
// key, or a terminating signal, stops the render. A render that failed is
// reported and gives status 1.
int renderMode(Engine& e, const Options& options) {
  char* wavFileName = makeWavFileName(options.modulePath);
  if (wavFileName == nullptr) {
    std::printf("Error: Out of memory!\n");
    freeSong(e);
    return 1;
  }
  // A signal that came while the program started stops the render before its first tick.
  e.renderActive = running.load();
  RenderThread thread;
  if (!startRenderThread(thread, e, wavFileName)) {
    e.renderActive = false;
    std::printf("Error: Couldn't create WAV rendering thread!\n");
    std::free(wavFileName);
    freeSong(e);
    return 1;
  }
  std::printf("Rendering to WAV. If stuck forever, press any key to stop rendering...\n");
  std::fflush(stdout);
  enterRawMode();
  while (e.renderActive) {
    // Woken as soon as the render ends, so the program exits as soon as the
    // file is complete, while the keyboard and the run flag are still
    // looked at on the same pace.
    waitWhileRendering(thread, 200);
    if (!running || keyPressed()) e.renderActive = false;
  }
  restoreTerminal();
  const RenderResult result = joinRenderThread(thread);
  std::free(wavFileName);
  freeSong(e);
  const char* failure = renderFailureMessage(result);
  if (failure == nullptr) return 0;
  std::printf("%s\n", failure);
  return 1;
}

void printInformationBlock(const Engine& e, const Options& options) {
  const Song& song = e.song;
  std::printf("Playing, press ESC to stop...\n");
  std::printf("\n");
  std::printf("Controls:\n");
  std::printf("Esc=Quit   Space=Toggle Pause   Plus = inc. song pos   Minus = dec. song pos\n");
  std::printf("\n");
  std::printf("Mixing frequency: %dHz\n", e.player.mixingFrequency);
  std::printf("Linear interpolation: %s\n", options.noInterpolation ? "Off" : "On");
  std::printf("Volume ramping: %s\n", options.noVolumeRamping ? "Off" : "On");
  std::printf("Mixing amp: %d\n", getAmp(e));
  std::printf("Mixing volume: %d\n", getMasterVolume(e));
  std::printf("\n");
  char name[sizeof Song::name];
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
int livePlay(Engine& e, const Options& options) {
  // The restart closes and opens the device again, which can fail as well.
  if (!startPlayback(e) || !restartPlayback(e)) {
    std::printf("Error: Couldn't start the audio system!\n");
    freeSong(e);
    return 1;
  }
  printInformationBlock(e, options);
  enterRawMode();
  runStatusLoop(e);
  // A device lost during play (the sound server quit) ends play as Esc does,
  // but the status tells that it did not end by request.
  const bool lost = audioDeviceLost(e);
  restoreTerminal();
  std::printf("\n");
  stopPlayback(e);
  freeSong(e);
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
  // The program plays one song: one engine.
  const std::unique_ptr<Engine> engine(new (std::nothrow) Engine());
  if (engine == nullptr || !setupReplayer(*engine, options.mixingFrequency, options.bufferSize,
                                          !options.noInterpolation, !options.noVolumeRamping)) {
    std::printf("Error: Out of memory while setting up replayer!\n");
    return 1;
  }
  Engine& e = *engine;
  if (!loadModuleFile(e, options.modulePath)) {
    std::printf("Error: Couldn't load song!\n");
    return 1;
  }
  applyOptions(e, options);
  // The run flag is set before the handler exists, so that a signal
  // arriving while playback or the render starts is never overwritten: it
  // ends the status loop at its first pass, or the render before its first tick.
  running = true;
  installSignalHandlers();
  return options.renderToWav ? renderMode(e, options) : livePlay(e, options);
}

}  // namespace zv

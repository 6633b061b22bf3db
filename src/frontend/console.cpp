#include "frontend/console.h"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

#include "audio/device.h"
#include "audio/player.h"
#include "replayer/tick_engine.h"

namespace zv {

static_assert(std::atomic<bool>::is_always_lock_free, "running is written by a signal handler");

std::atomic<bool> running{false};

namespace {

constexpr int kStandardInput = 0;

termios savedSettings{};
termios rawSettings{};
bool rawModeEntered = false;
// Standard input is a terminal whose foreground is another process group (a
// job started with "&"): setting it up would stop the program with SIGTTOU
// and reading it with SIGTTIN, so it is left alone, as a non-terminal is.
bool terminalLeftAlone = false;
int32_t pendingKey = -1;

bool terminalOfAnotherProcessGroup() {
  return isatty(kStandardInput) && tcgetpgrp(kStandardInput) != getpgrp();
}

// One byte from a terminal in raw mode, without waiting: VMIN 0 for the moment
// of the read.
ssize_t readFromRawTerminal(unsigned char* byte) {
  rawSettings.c_cc[VMIN] = 0;
  tcsetattr(kStandardInput, TCSANOW, &rawSettings);
  ssize_t n = read(kStandardInput, byte, 1);
  rawSettings.c_cc[VMIN] = 1;
  tcsetattr(kStandardInput, TCSANOW, &rawSettings);
  return n;
}

// One byte from anything else (a pipe, a file, /dev/null, a closed descriptor)
// only if a read would not wait; end of input reads 0 bytes.
ssize_t readIfReady(unsigned char* byte) {
  pollfd request{kStandardInput, POLLIN, 0};
  if (poll(&request, 1, 0) != 1) return 0;
  if ((request.revents & (POLLIN | POLLHUP | POLLERR)) == 0) return 0;
  return read(kStandardInput, byte, 1);
}

// What one status line shows, taken together under the engine's audio lock
// so that the callback thread never writes a field while it is read.
struct StatusValues {
  int songPosition, songLength, patternNumber, row, patternLength;
  int activeVoices, channelCount;
  bool paused;
};

StatusValues readStatusValues(const Engine& e) {
  AudioLockHold hold(e.audioLock);
  const Song& song = e.song;
  return {song.songPosition,  song.songLength,   song.patternNumber,
          song.row,           song.patternLength, countActiveVoices(e.mixer, song.channelCount),
          song.channelCount,  song.paused != 0};
}

// "+" and "-": full global volume, silent channels, the pattern of the order
// entry `step` away from the current one started at row 0. All in one hold
// of the audio lock, so no tick can play the old row with the reset channels.
void moveSongPosition(Engine& e, int step) {
  AudioLockHold hold(e.audioLock);
  e.song.globalVolume = 64;
  resetChannelsWithLockHeld(e);
  setPosition(e, e.song.songPosition + step, 0);
}

}  // namespace

void enterRawMode() {
  pendingKey = -1;
  terminalLeftAlone = terminalOfAnotherProcessGroup();
  if (terminalLeftAlone) return;
  tcgetattr(kStandardInput, &savedSettings);
  rawSettings = savedSettings;
  rawSettings.c_lflag &= ~(ICANON | ISIG | ECHO);
  rawSettings.c_cc[VMIN] = 1;
  rawSettings.c_cc[VTIME] = 0;
  tcsetattr(kStandardInput, TCSANOW, &rawSettings);
  rawModeEntered = true;
}

void restoreTerminal() {
  if (terminalLeftAlone) return;
  // Keys not read are dropped, such as the rest of an arrow key's sequence
  // after the Esc that quit: left in the terminal, the shell would read them.
  tcsetattr(kStandardInput, TCSAFLUSH, &savedSettings);
  rawModeEntered = false;
}

bool keyPressed() {
  if (pendingKey != -1) return true;
  if (terminalLeftAlone) return false;
  unsigned char byte = 0;
  ssize_t n = (rawModeEntered && isatty(kStandardInput)) ? readFromRawTerminal(&byte)
                                                          : readIfReady(&byte);
  if (n != 1) return false;
  pendingKey = byte;
  return true;
}

int8_t readKey() {
  if (pendingKey != -1) {
    int8_t key = static_cast<int8_t>(pendingKey);
    pendingKey = -1;
    return key;
  }
  unsigned char byte = 0;
  if (read(kStandardInput, &byte, 1) != 1) return 0;
  return static_cast<int8_t>(byte);
}

void sleepMilliseconds(uint32_t ms) { usleep(ms * 1000); }

void handleKey(Engine& e, int key) {
  switch (key) {
    case 27: running = false; break;
    case ' ': togglePause(e); break;
    case '+': moveSongPosition(e, 1); break;
    case '-': moveSongPosition(e, -1); break;
    default: break;
  }
}

void printStatusLine(const Engine& e) {
  StatusValues v = readStatusValues(e);
  std::printf(" Pos: %03d/%03d - Pattern: %03d - Row: %03d/%03d - Active voices: %02d/%02d %s\r",
              v.songPosition, v.songLength, v.patternNumber, v.row, v.patternLength,
              v.activeVoices, v.channelCount, v.paused ? "(PAUSED)" : "        ");
  std::fflush(stdout);
}

void runStatusLoop(Engine& e) {
  do {
    if (keyPressed()) handleKey(e, readKey());
    printStatusLine(e);
    sleepMilliseconds(100);
  } while (running && !audioDeviceLost(e));
}

}  // namespace zv

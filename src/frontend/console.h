// The terminal's raw mode, the key poll, the status loop and line. All of it
// runs on the main thread and works on standard input (descriptor 0).
#pragma once

#include <atomic>
#include <cstdint>

#include "replayer/engine.h"

namespace zv {

// True while the program runs on; cleared by Esc and by SIGTERM, SIGINT,
// SIGHUP and SIGQUIT (the live status loop and the render wait stop then).
extern std::atomic<bool> running;

// Saves the terminal settings and applies them with ICANON, ISIG and ECHO
// cleared, VMIN 1, VTIME 0; empties the read-ahead key. Without a terminal
// the calls fail without effect. A terminal whose foreground process group
// is not the program's (started in the background) is left alone: no raw
// mode, no key polling, nothing to restore.
void enterRawMode();
// Applies the settings saved by enterRawMode and discards the input not yet
// read (the rest of a key sequence), so that it is not left for the shell.
void restoreTerminal();
// True if a key byte is available, without waiting: in raw mode on a terminal
// by a read with VMIN 0; otherwise (a pipe, a file, no raw mode) only when a
// zero-timeout poll says a read would not wait. End of input is no key;
// a terminal left alone never has a key.
bool keyPressed();
// The next key byte (128..255 come out negative): the one keyPressed read
// ahead, else a waiting read; 0 when the read fails.
int8_t readKey();
void sleepMilliseconds(uint32_t ms);

// Handles one key byte of live play: 27 (Esc, and the start of every arrow or
// function key) quits, Space toggles the pause, "+" and "-" restart the next or
// previous order entry's pattern at row 0, on `e`; others are ignored.
void handleKey(Engine& e, int key);
// Prints e's status line (ending in a carriage return) and flushes. The
// values are read together under e's audio lock.
void printStatusLine(const Engine& e);
// One key at most, one status line, 100 ms; again while `running` is set
// and e's audio device has not been lost (at least one pass).
void runStatusLoop(Engine& e);

}  // namespace zv

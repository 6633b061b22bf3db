// The terminal's raw mode, the key poll, the status loop and line.
#pragma once

#include <atomic>
#include <cstdint>

namespace zv {

// True while the live status loop runs; cleared by Esc and SIGTERM.
extern std::atomic<bool> running;

void enterRawMode();
void restoreTerminal();
// True if a key byte is available, without waiting (also when standard input
// is not a terminal; end of input is no key).
bool keyPressed();
int8_t readKey();
void sleepMilliseconds(uint32_t ms);

// Handles one key byte of live play (Esc, Space, "+", "-"; others ignored).
void handleKey(int key);
// Prints the status line (no newline) and flushes.
void printStatusLine();
// Runs until `running` is false: one key, one status line, 100 ms.
void runStatusLoop();

}  // namespace zv

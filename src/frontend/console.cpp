// STUB
#include "frontend/console.h"

namespace zv {

std::atomic<bool> running{false};
void enterRawMode() {}
void restoreTerminal() {}
bool keyPressed() { return false; }
int8_t readKey() { return 0; }
void sleepMilliseconds(uint32_t) {}
void handleKey(int) {}
void printStatusLine() {}
void runStatusLoop() {}

}  // namespace zv

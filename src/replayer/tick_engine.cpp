// STUB: replaced by the tick engine.
#include "replayer/tick_engine.h"

namespace zv {

Channel channels[kMaxChannels];
const NoteCell emptyRow[kMaxChannels] = {};

void playerTick() {}
void setTempo(uint16_t) {}
void setPosition(int32_t, int32_t) {}
void rewindSong() {}
void resetChannels() {}

}  // namespace zv

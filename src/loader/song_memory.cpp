// STUB
#include "loader/song_memory.h"

namespace zv {

void freeSong() {}
void freeInstruments() {}
void freePatterns() {}
Instrument* newInstrument() { return nullptr; }
int8_t* allocateSampleData(int32_t) { return nullptr; }
void clampSampleLoop(Sample&) {}
void prepareSamples() {}

}  // namespace zv

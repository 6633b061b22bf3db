#include "replayer/song.h"

#include <cstdlib>

namespace zv {

void freeInstruments(Song& song) {
  for (Instrument*& instrument : song.instruments) {
    if (instrument == nullptr) continue;
    for (Sample& sample : instrument->samples) std::free(sample.data);
    std::free(instrument);
    instrument = nullptr;
  }
}

void freePatterns(Song& song) {
  for (int n = 0; n < kPatternSlots; ++n) {
    std::free(song.patterns[n]);
    song.patterns[n] = nullptr;
    song.patternRows[n] = kAbsentPatternRows;
  }
}

}  // namespace zv

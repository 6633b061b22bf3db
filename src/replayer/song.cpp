#include "replayer/song.h"

#include <cstdlib>

namespace zv {

void printableName(const char* name, char (&shown)[sizeof Song::name]) {
  size_t i = 0;
  for (; i + 1 < sizeof shown && name[i] != '\0'; ++i) {
    const auto byte = static_cast<unsigned char>(name[i]);
    const bool control = byte < 0x20 || byte == 0x7F || (byte >= 0x80 && byte <= 0x9F);
    shown[i] = control ? '.' : name[i];
  }
  shown[i] = '\0';
}

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

// Both ends of a song's life: release (with the replayer defaults restored)
// and the sample preparation after a load.
#pragma once

#include "replayer/song.h"

namespace zv {

// Stops the audio output, releases every block of the song, restores the
// replayer defaults and rewinds. Safe any number of times, before any load too.
void freeSong();

// Releases all instruments (slot 0 included) and their sample data.
void freeInstruments();

// Releases all patterns; every row count becomes 64.
void freePatterns();

// Allocates a new instrument: zero-filled, every sample volume 64, panning 128.
// Null when out of memory.
Instrument* newInstrument();

// Allocates a zero-filled sample data block for `length` bytes with room for
// the guard frame and the zero tail behind it. Null when out of memory.
int8_t* allocateSampleData(int32_t length);

// Makes the loop fit the length: negatives to 0, start at most length, end at most length.
void clampSampleLoop(Sample& sample);

// After every load: loops clamped, guard frames written behind every sample's
// last reachable frame.
void prepareSamples();

}  // namespace zv

// Both ends of a song's life: release (with the replayer defaults restored)
// and the sample preparation after a load.
#pragma once

#include "replayer/engine.h"

namespace zv {

// A sample data block is length + kSampleGuardBytes bytes (the guard frame
// behind the last frame) followed by kSampleZeroTailBytes zero bytes, so that
// a read of the element after the guard, 8- or 16-bit, stays inside and reads 0.
constexpr int32_t kSampleGuardBytes = 2;
constexpr int32_t kSampleZeroTailBytes = 6;

// Stops the engine's sound output (e.stopOutput), releases every block of
// its song, restores the replayer defaults and rewinds. Safe any number of
// times, before any load too. Leaves name, channelCount, orderList,
// songLength, restartPosition, instrumentCount, formatVersion, format,
// modSignature and songLoaded as they were.
void freeSong(Engine& e);

// Allocates a new instrument: zero-filled, every sample volume 64, panning 128.
// Null when out of memory. Released by freeInstruments (std::free).
Instrument* newInstrument();

// Allocates a zero-filled sample data block for `length` bytes with room for
// the guard frame and the zero tail behind it. Null when out of memory or
// when length is negative.
int8_t* allocateSampleData(int32_t length);

// Makes the loop fit the length: negatives to 0, start at most length, end at most length.
void clampSampleLoop(Sample& sample);

// After every load, for every sample of every instrument: loop clamped; a
// sample without data gets length and loop 0; a loop without a whole frame
// (8-bit: 0 bytes, 16-bit: under 2 bytes) loses its loop kind and plays
// unlooped; the guard frame is written behind the last reachable frame.
void prepareSamples(Engine& e);

}  // namespace zv

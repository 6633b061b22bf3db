#include "loader/song_memory.h"

#include <cstdlib>
#include <cstring>

#include "replayer/pitch.h"
#include "replayer/tick_engine.h"

namespace zv {

void freeSong(Engine& e) {
  if (e.stopOutput != nullptr) e.stopOutput(e);  // no voice may read the blocks once they go
  freeInstruments(e.song);
  freePatterns(e.song);
  e.song.globalVolume = 64;
  e.song.tempo = 125;
  e.song.speed = 6;
  e.song.linearFrequencies = 1;
  e.song.periodTable = linearPeriodTable;
  rewindSong(e);
}

Instrument* newInstrument() {
  auto* instrument = static_cast<Instrument*>(std::calloc(1, sizeof(Instrument)));
  if (instrument == nullptr) return nullptr;
  for (Sample& sample : instrument->samples) {
    sample.volume = 64;
    sample.panning = 128;
  }
  return instrument;
}

int8_t* allocateSampleData(int32_t length) {
  if (length < 0) return nullptr;
  size_t bytes = static_cast<size_t>(length) + kSampleGuardBytes + kSampleZeroTailBytes;
  return static_cast<int8_t*>(std::calloc(bytes, 1));
}

void clampSampleLoop(Sample& sample) {
  if (sample.loopStart < 0) sample.loopStart = 0;
  if (sample.loopLength < 0) sample.loopLength = 0;
  if (sample.loopStart > sample.length) sample.loopStart = sample.length;
  // Both are non-negative here, so the sum is computed without overflow in 64 bits.
  if (static_cast<int64_t>(sample.loopStart) + sample.loopLength > sample.length) {
    sample.loopLength = sample.length - sample.loopStart;
  }
}

namespace {

// Frames of a byte count: 16-bit data have two bytes per frame.
int32_t framesOf(const Sample& sample, int32_t bytes) {
  return (sample.type & kSample16Bit) ? bytes >> 1 : bytes;
}

// A loop that holds no whole frame cannot wrap: it plays as no loop.
void dropEmptyLoop(Sample& sample) {
  if ((sample.type & kLoopKindMask) != 0 && framesOf(sample, sample.loopLength) <= 0) {
    sample.type &= static_cast<uint8_t>(~kLoopKindMask);
  }
}

void writeGuard8(Sample& sample) {
  int8_t* data = sample.data;
  int32_t loopEnd = sample.loopStart + sample.loopLength;
  if (sample.type & kLoopForward) {
    data[loopEnd] = data[sample.loopStart];
  } else if (sample.type & kLoopPingPong) {
    data[loopEnd] = data[loopEnd - 1];
  } else {
    data[sample.length] = 0;
  }
}

// 16-bit words are accessed bytewise: little-endian, no alignment assumed.
void copyWord(int8_t* data, int32_t to, int32_t from) {
  std::memmove(data + 2 * static_cast<size_t>(to), data + 2 * static_cast<size_t>(from), 2);
}

// Byte positions are halved after adding: with odd loop start and length the
// guard lands one frame behind the end the voice plays to, which then reads
// the sample's own data there.
void writeGuard16(Sample& sample) {
  int8_t* data = sample.data;
  int32_t loopEnd = (sample.loopStart + sample.loopLength) >> 1;
  if (sample.type & kLoopForward) {
    copyWord(data, loopEnd, sample.loopStart >> 1);
  } else if (sample.type & kLoopPingPong) {
    copyWord(data, loopEnd, loopEnd - 1);
  } else {
    int32_t end = sample.length >> 1;
    data[2 * static_cast<size_t>(end)] = 0;
    data[2 * static_cast<size_t>(end) + 1] = 0;
  }
}

void prepareSample(Sample& sample) {
  clampSampleLoop(sample);
  if (sample.data == nullptr) {
    sample.length = 0;
    sample.loopStart = 0;
    sample.loopLength = 0;
  }
  dropEmptyLoop(sample);
  if (framesOf(sample, sample.length) <= 0) return;
  if (sample.type & kSample16Bit) {
    writeGuard16(sample);
  } else {
    writeGuard8(sample);
  }
}

}  // namespace

void prepareSamples(Engine& e) {
  for (Instrument* instrument : e.song.instruments) {
    if (instrument == nullptr) continue;
    for (Sample& sample : instrument->samples) prepareSample(sample);
  }
}

}  // namespace zv

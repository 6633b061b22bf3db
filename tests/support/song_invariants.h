// A loaded song's model invariants, checked by tests and fuzz targets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>

#include "replayer/song.h"

namespace zv::test {

// The model's invariants after a successful load, checked for every slot.
// Reads the zero tail behind every guard frame, so an address sanitizer
// build also proves that each block extends that far.
inline std::string songInvariantViolation(const Song& song) {
  if (song.instruments[0] == nullptr) return "no empty instrument 0";
  if (song.restartPosition > song.songLength) return "restart position above song length";
  for (int n = 0; n < kPatternSlots; ++n) {
    if (song.patterns[n] == nullptr) {
      if (song.patternRows[n] < 1 || song.patternRows[n] > 1024) return "absent pattern without 1..1024 rows";
      continue;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(song.patterns[n]);
    size_t count = static_cast<size_t>(song.patternRows[n]) * song.channelCount * sizeof(NoteCell);
    if (std::all_of(bytes, bytes + count, [](uint8_t b) { return b == 0; })) return "all-zero pattern kept";
    for (size_t c = 0; c < count / sizeof(NoteCell); ++c) {
      if (song.patterns[n][c].note > kKeyOffNote) return "note above 97";
    }
  }
  for (const Instrument* ins : song.instruments) {
    if (ins == nullptr) continue;
    for (const Sample& s : ins->samples) {
      if (s.loopStart < 0 || s.loopStart > s.length) return "loop start outside the sample";
      if (s.loopLength < 0 || s.loopLength > s.length - s.loopStart) return "loop end outside the sample";
      if (s.type & ~kSampleTypeMask) return "meaningless type bits";
      if (s.volume > 64) return "volume above 64";
      if (s.data == nullptr) {
        if (s.length != 0 || s.loopStart != 0 || s.loopLength != 0) return "sample without data has a length";
        continue;
      }
      if (s.length <= 0) return "data for an empty sample";
      int32_t loopFrames = (s.type & kSample16Bit) ? s.loopLength >> 1 : s.loopLength;
      if ((s.type & kLoopKindMask) != 0 && loopFrames <= 0) return "loop without a frame";
      for (int32_t i = s.length + 2; i < s.length + 8; ++i) {
        if (s.data[i] != 0) return "non-zero tail behind the guard";
      }
    }
  }
  return "";
}

}  // namespace zv::test

// Small modules for the front-end tests, built with the module writer, and a
// reader of the WAV files the program writes.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "support/module_writer.h"

namespace zv::test {

// A looped sawtooth, so that a held note sounds for as long as it is held.
inline XmSamplePlan loopedSaw(int frames, int16_t amplitude) {
  XmSamplePlan s;
  s.name = "saw";
  for (int i = 0; i < frames; ++i) {
    s.pcm.push_back(static_cast<int16_t>(-amplitude + (2 * amplitude * i) / frames));
  }
  s.loopKind = 1;
  s.loopStart = 0;
  s.loopLength = frames;
  return s;
}

// Four channels, three order entries (patterns 1, 2, 0 of 64 rows), speed 3,
// tempo 125: a row lasts 60 ms, a pattern 3.84 s. Channel 0 holds one note
// through the whole song, so there is sound at every moment; the others play
// notes with volume-column and panning changes that differ per pattern.
inline XmModulePlan liveTestSong() {
  XmModulePlan plan;
  plan.name = "frontend live";
  plan.channelCount = 4;
  plan.songLength = 3;
  plan.orderList[0] = 1;
  plan.orderList[1] = 2;
  plan.orderList[2] = 0;
  plan.speed = 3;
  plan.tempo = 125;
  XmSamplePlan square = squareSample(64, 16, 90);
  square.loopKind = 1;
  square.loopLength = 64;
  plan.instruments.push_back(instrumentWith(square));
  plan.instruments.push_back(instrumentWith(loopedSaw(50, 70)));
  for (int p = 0; p < 3; ++p) {
    for (int row = 0; row < 64; ++row) plan.cell(p, row, 0);  // full size
    for (int row = 0; row < 64; row += 4) {
      NoteCell& c = plan.cell(p, row, 1 + (row / 4) % 3);
      c.note = static_cast<uint8_t>(37 + (row / 4 + 5 * p) % 24);
      c.instrument = static_cast<uint8_t>(1 + (row / 8) % 2);
      c.volumeColumn = static_cast<uint8_t>(0x10 + 20 + (row % 40));
      if (row % 16 == 8) {
        c.effect = 8;  // set panning
        c.effectParam = static_cast<uint8_t>(row * 4);
      }
    }
  }
  NoteCell& held = plan.cell(1, 0, 0);
  held.note = 49;
  held.instrument = 2;
  held.volumeColumn = 0x10 + 40;
  return plan;
}

// Four channels holding full-volume square notes: loud enough at amp 32 to
// drive the 16-bit conversion into saturation.
inline XmModulePlan loudTestSong() {
  XmModulePlan plan;
  plan.name = "frontend loud";
  plan.channelCount = 4;
  XmSamplePlan square = squareSample(64, 32, 127);
  square.loopKind = 1;
  square.loopLength = 64;
  plan.instruments.push_back(instrumentWith(square));
  for (int ch = 0; ch < 4; ++ch) plan.cell(0, 0, ch) = NoteCell{static_cast<uint8_t>(49 + 7 * ch), 1, 0, 0, 0};
  return plan;
}

// Eleven hours of song: 256 order entries naming one 64-row pattern, speed
// 31, tempo 32, a looped note held on channel 0. A render runs far longer
// than any test waits, so it is stopped from outside.
inline XmModulePlan longTestSong() {
  XmModulePlan plan;
  plan.name = "frontend long";
  plan.channelCount = 2;
  plan.songLength = 256;
  plan.speed = 31;
  plan.tempo = 32;
  plan.instruments.push_back(instrumentWith(loopedSaw(40, 60)));
  plan.cell(0, 0, 0) = NoteCell{49, 1, 0, 0, 0};
  plan.cell(0, 63, 1);
  return plan;
}

struct WavFile {
  bool valid = false;  // the 44-byte header as zelvix writes it, sizes matching the file
  uint32_t sampleRate = 0;
  uint32_t riffSize = 0;
  uint32_t dataSize = 0;
  std::vector<int16_t> samples;  // interleaved left, right
};

inline uint32_t le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline WavFile readWav(const std::string& path) {
  WavFile w;
  std::vector<uint8_t> bytes = readFile(path);
  if (bytes.size() < 44) return w;
  const uint8_t* h = bytes.data();
  w.riffSize = le32(h + 4);
  w.dataSize = le32(h + 40);
  w.sampleRate = le32(h + 24);
  w.valid = std::memcmp(h, "RIFF", 4) == 0 && std::memcmp(h + 8, "WAVEfmt ", 8) == 0 &&
            le32(h + 16) == 16 && le16(h + 20) == 1 && le16(h + 22) == 2 &&
            le32(h + 28) == w.sampleRate * 4 && le16(h + 32) == 4 && le16(h + 34) == 16 &&
            std::memcmp(h + 36, "data", 4) == 0 && w.riffSize == w.dataSize + 36 &&
            w.dataSize == bytes.size() - 44 && w.dataSize % 4 == 0;
  w.samples.resize((bytes.size() - 44) / 2);
  if (!w.samples.empty()) std::memcpy(w.samples.data(), h + 44, w.samples.size() * 2);
  return w;
}

// Raw signed 16-bit stereo as the disk audio driver writes it.
inline std::vector<int16_t> readRawSamples(const std::string& path) {
  std::vector<uint8_t> bytes = readFile(path);
  std::vector<int16_t> samples(bytes.size() / 2);
  if (!samples.empty()) std::memcpy(samples.data(), bytes.data(), samples.size() * 2);
  return samples;
}

}  // namespace zv::test

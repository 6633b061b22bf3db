// Builds XM and MOD files from code, for tests, benchmarks, fuzzers and the
// demo. Defaults make a small valid module; the optional overrides write
// hostile or unusual fields verbatim.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "replayer/engine.h"

namespace zv::test {

// ---------------------------------------------------------------- XM

struct XmEnvelopePlan {
  std::vector<EnvelopePoint> points;  // at most 12 are written
  uint8_t sustainPoint = 0;
  uint8_t loopStartPoint = 0;
  uint8_t loopEndPoint = 0;
  uint8_t flags = 0;  // kEnvelopeOn | kEnvelopeSustain | kEnvelopeLoop
  std::optional<uint8_t> pointCountOverride;  // written instead of points.size()
};

struct XmSamplePlan {
  std::string name;
  // Plain PCM values, one per frame: -128..127 for 8-bit, -32768..32767 for
  // 16-bit. The writer delta-codes them.
  std::vector<int16_t> pcm;
  bool sixteenBit = false;
  uint8_t loopKind = 0;  // 0 none, 1 forward, 2 ping-pong, 3 both bits
  int32_t loopStart = 0;   // frames
  int32_t loopLength = 0;  // frames
  uint8_t volume = 64;
  int8_t finetune = 0;
  uint8_t panning = 128;
  int8_t relativeNote = 0;
  uint8_t extraTypeBits = 0;  // ORed into the type byte (meaningless bits)
  // Written verbatim instead of the values derived from pcm and the loop.
  std::optional<int32_t> lengthBytes;
  std::optional<int32_t> loopStartBytes;
  std::optional<int32_t> loopLengthBytes;
  // Written as the sample's data bytes instead of the delta-coded pcm (the
  // length field still comes from pcm unless lengthBytes is given).
  std::optional<std::vector<uint8_t>> rawData;
};

struct XmInstrumentPlan {
  std::string name;
  std::array<uint8_t, 96> sampleMap{};
  XmEnvelopePlan volumeEnvelope;
  XmEnvelopePlan panningEnvelope;
  uint8_t vibratoType = 0;
  uint8_t vibratoSweep = 0;
  uint8_t vibratoDepth = 0;
  uint8_t vibratoRate = 0;
  uint16_t fadeout = 0;
  uint8_t muteByte = 0;  // 1 marks the instrument muted
  std::vector<XmSamplePlan> samples;
  // Instrument header size field; default 263. The writer writes
  // max(headerSize, 4) bytes of header (padding with zeros past 263) unless
  // headerBytesWritten says otherwise.
  std::optional<int32_t> headerSize;
  std::optional<int32_t> headerBytesWritten;
  std::optional<uint16_t> sampleCountOverride;  // written instead of samples.size()
};

enum class XmPacking { packed, unpacked, alternating };

struct XmPatternPlan {
  uint16_t rows = 64;
  std::vector<NoteCell> cells;  // rows x channelCount, row-major; missing cells are empty
  XmPacking packing = XmPacking::packed;
  std::optional<std::vector<uint8_t>> rawPackedData;  // written instead of encoding cells
  std::optional<int32_t> headerLength;                // default 9 (8 for version 0x0102)
  std::optional<uint16_t> packedSizeOverride;
};

struct XmModulePlan {
  std::string name = "zelvix test";
  std::string trackerName = "zelvix module writer";
  uint16_t version = 0x0104;
  std::optional<int32_t> headerSize;  // default 276 (the 256-byte order list ends there)
  uint16_t songLength = 1;
  uint16_t restartPosition = 0;
  uint16_t channelCount = 4;
  uint16_t flags = 1;  // bit 0: linear frequencies
  uint16_t speed = 6;
  uint16_t tempo = 125;
  std::array<uint8_t, 256> orderList{};
  std::vector<XmPatternPlan> patterns;
  std::vector<XmInstrumentPlan> instruments;
  std::optional<uint16_t> patternCountOverride;
  std::optional<uint16_t> instrumentCountOverride;
  std::string signature = "Extended Module: ";

  // The cell of `pattern` at (row, channel); creates the pattern (64 rows)
  // and sizes its cells as needed.
  NoteCell& cell(int pattern, int row, int channel);
};

std::vector<uint8_t> writeXm(const XmModulePlan& plan);

// An 8-bit sample of `frames` frames of a square-ish wave, for tests that
// need some sound.
XmSamplePlan squareSample(int frames, int period = 32, int16_t amplitude = 100);

// An instrument playing `sample` for every note.
XmInstrumentPlan instrumentWith(XmSamplePlan sample);

// ---------------------------------------------------------------- MOD

struct ModSamplePlan {
  std::string name;
  std::vector<int8_t> pcm;  // plain signed 8-bit data; length in words = size / 2
  uint8_t finetuneByte = 0;  // stored as is (low nibble meaningful)
  uint8_t volume = 64;       // stored as is
  uint16_t loopStartWords = 0;
  uint16_t loopLengthWords = 0;  // below 2: no loop
  std::optional<uint16_t> lengthWordsOverride;
};

struct ModCell {
  uint16_t period = 0;  // 12 bits
  uint8_t instrument = 0;
  uint8_t effect = 0;  // 4 bits
  uint8_t param = 0;
};

struct ModModulePlan {
  std::string name = "zelvix mod";
  std::string signature = "M.K.";  // four bytes; ignored for the 15-sample form
  bool fifteenSamples = false;
  int channels = 4;  // pattern layout; should match what the signature means
  uint8_t songLength = 1;
  uint8_t restartByte = 0;
  std::array<uint8_t, 128> orderList{};
  // Each pattern is 64 x channels cells, row-major; missing cells are empty.
  // Patterns are written from 0 to the highest order entry.
  std::vector<std::vector<ModCell>> patterns;
  std::vector<ModSamplePlan> samples;  // up to 31 (15)
  // Bytes appended after the sample data (for instance to keep the file long
  // enough to load when there is no data).
  size_t trailingBytes = 0;

  ModCell& cell(int pattern, int row, int channel);
};

std::vector<uint8_t> writeMod(const ModModulePlan& plan);

// ---------------------------------------------------------------- helpers

// Writes bytes to a file; true on success.
bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes);

// Reads a whole file; empty on failure.
std::vector<uint8_t> readFile(const std::string& path);

// Loads bytes into `e` through loadModuleFromMemory.
bool loadBytes(Engine& e, const std::vector<uint8_t>& bytes);

}  // namespace zv::test

#include "support/module_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "loader/module_loader.h"

namespace zv::test {

namespace {

class Bytes {
 public:
  explicit Bytes(std::vector<uint8_t>& out) : out_(out) {}
  void u8(unsigned v) { out_.push_back(static_cast<uint8_t>(v)); }
  void u16le(unsigned v) {
    u8(v & 0xFF);
    u8((v >> 8) & 0xFF);
  }
  void u16be(unsigned v) {
    u8((v >> 8) & 0xFF);
    u8(v & 0xFF);
  }
  void u32le(uint32_t v) {
    u16le(v & 0xFFFF);
    u16le(v >> 16);
  }
  void s32le(int32_t v) { u32le(static_cast<uint32_t>(v)); }
  // Exactly n bytes of text, zero padded.
  void text(const std::string& s, size_t n) {
    for (size_t i = 0; i < n; ++i) u8(i < s.size() ? static_cast<uint8_t>(s[i]) : 0);
  }
  void zeros(size_t n) { out_.insert(out_.end(), n, 0); }
  void append(const std::vector<uint8_t>& v) { out_.insert(out_.end(), v.begin(), v.end()); }
  size_t size() const { return out_.size(); }

 private:
  std::vector<uint8_t>& out_;
};

void encodeCell(Bytes& b, const NoteCell& c, bool packed) {
  if (!packed && c.note < 0x80) {
    b.u8(c.note);
    b.u8(c.instrument);
    b.u8(c.volumeColumn);
    b.u8(c.effect);
    b.u8(c.effectParam);
    return;
  }
  unsigned flags = 0x80;
  if (c.note) flags |= 0x01;
  if (c.instrument) flags |= 0x02;
  if (c.volumeColumn) flags |= 0x04;
  if (c.effect) flags |= 0x08;
  if (c.effectParam) flags |= 0x10;
  b.u8(flags);
  if (c.note) b.u8(c.note);
  if (c.instrument) b.u8(c.instrument);
  if (c.volumeColumn) b.u8(c.volumeColumn);
  if (c.effect) b.u8(c.effect);
  if (c.effectParam) b.u8(c.effectParam);
}

std::vector<uint8_t> packPattern(const XmPatternPlan& p, int channels) {
  std::vector<uint8_t> out;
  Bytes b(out);
  size_t total = static_cast<size_t>(p.rows) * static_cast<size_t>(channels);
  for (size_t i = 0; i < total; ++i) {
    NoteCell c = i < p.cells.size() ? p.cells[i] : NoteCell{};
    bool packed = p.packing == XmPacking::packed ||
                  (p.packing == XmPacking::alternating && i % 2 == 0);
    encodeCell(b, c, packed);
  }
  return out;
}

void writePattern(Bytes& b, const XmPatternPlan& p, uint16_t version, int channels) {
  std::vector<uint8_t> packed = p.rawPackedData ? *p.rawPackedData : packPattern(p, channels);
  uint16_t packedSize = p.packedSizeOverride ? *p.packedSizeOverride
                                             : static_cast<uint16_t>(packed.size());
  if (version == 0x0102) {
    int32_t headerLength = p.headerLength.value_or(8);
    b.s32le(headerLength);
    b.u8(0);
    b.u8((p.rows - 1) & 0xFF);
    b.u16le(packedSize);
    if (headerLength > 8) b.zeros(static_cast<size_t>(headerLength) - 8);
  } else {
    int32_t headerLength = p.headerLength.value_or(9);
    b.s32le(headerLength);
    b.u8(0);
    b.u16le(p.rows);
    b.u16le(packedSize);
    if (headerLength > 9) b.zeros(static_cast<size_t>(headerLength) - 9);
  }
  b.append(packed);
}

int32_t sampleBytes(const XmSamplePlan& s) {
  return static_cast<int32_t>(s.pcm.size()) * (s.sixteenBit ? 2 : 1);
}

void writeEnvelopePoints(Bytes& b, const XmEnvelopePlan& e) {
  for (int i = 0; i < kEnvelopePoints; ++i) {
    EnvelopePoint p = i < static_cast<int>(e.points.size()) ? e.points[i] : EnvelopePoint{0, 0};
    b.u16le(p.tick);
    b.u16le(p.value);
  }
}

uint8_t envelopeCount(const XmEnvelopePlan& e) {
  if (e.pointCountOverride) return *e.pointCountOverride;
  return static_cast<uint8_t>(std::min<size_t>(e.points.size(), kEnvelopePoints));
}

void writeInstrumentHeaders(Bytes& b, const XmInstrumentPlan& ins) {
  std::vector<uint8_t> header;
  Bytes h(header);
  int32_t headerSize = ins.headerSize.value_or(263);
  h.s32le(headerSize);
  h.text(ins.name, 22);
  h.u8(0);
  h.u16le(ins.sampleCountOverride.value_or(static_cast<uint16_t>(ins.samples.size())));
  h.u32le(40);
  for (uint8_t m : ins.sampleMap) h.u8(m);
  writeEnvelopePoints(h, ins.volumeEnvelope);
  writeEnvelopePoints(h, ins.panningEnvelope);
  h.u8(envelopeCount(ins.volumeEnvelope));
  h.u8(envelopeCount(ins.panningEnvelope));
  h.u8(ins.volumeEnvelope.sustainPoint);
  h.u8(ins.volumeEnvelope.loopStartPoint);
  h.u8(ins.volumeEnvelope.loopEndPoint);
  h.u8(ins.panningEnvelope.sustainPoint);
  h.u8(ins.panningEnvelope.loopStartPoint);
  h.u8(ins.panningEnvelope.loopEndPoint);
  h.u8(ins.volumeEnvelope.flags);
  h.u8(ins.panningEnvelope.flags);
  h.u8(ins.vibratoType);
  h.u8(ins.vibratoSweep);
  h.u8(ins.vibratoDepth);
  h.u8(ins.vibratoRate);
  h.u16le(ins.fadeout);
  h.zeros(6);
  h.u8(ins.muteByte);
  h.zeros(15);
  // header now holds the full 263-byte layout.
  int32_t written = ins.headerBytesWritten.value_or(std::max(headerSize, 4));
  if (written < 4) written = 4;
  if (static_cast<size_t>(written) <= header.size()) {
    header.resize(static_cast<size_t>(written));
  } else {
    header.resize(static_cast<size_t>(written), 0);
  }
  b.append(header);

  for (const XmSamplePlan& s : ins.samples) {
    int unit = s.sixteenBit ? 2 : 1;
    b.s32le(s.lengthBytes.value_or(sampleBytes(s)));
    b.s32le(s.loopStartBytes.value_or(s.loopStart * unit));
    b.s32le(s.loopLengthBytes.value_or(s.loopLength * unit));
    b.u8(s.volume);
    b.u8(static_cast<uint8_t>(s.finetune));
    b.u8((s.loopKind & 3) | (s.sixteenBit ? kSample16Bit : 0) | s.extraTypeBits);
    b.u8(s.panning);
    b.u8(static_cast<uint8_t>(s.relativeNote));
    b.u8(0);
    b.text(s.name, 22);
  }
}

void writeSampleData(Bytes& b, const XmInstrumentPlan& ins) {
  for (const XmSamplePlan& s : ins.samples) {
    int32_t length = s.lengthBytes.value_or(sampleBytes(s));
    if (length <= 0) continue;
    if (s.rawData) {
      b.append(*s.rawData);
      continue;
    }
    int32_t previous = 0;
    for (int16_t v : s.pcm) {
      int32_t delta = v - previous;
      previous = v;
      if (s.sixteenBit) {
        b.u16le(static_cast<uint16_t>(delta));
      } else {
        b.u8(static_cast<uint8_t>(delta));
      }
    }
  }
}

}  // namespace

NoteCell& XmModulePlan::cell(int pattern, int row, int channel) {
  if (patterns.size() <= static_cast<size_t>(pattern)) patterns.resize(static_cast<size_t>(pattern) + 1);
  XmPatternPlan& p = patterns[static_cast<size_t>(pattern)];
  size_t index = static_cast<size_t>(row) * channelCount + static_cast<size_t>(channel);
  size_t needed = static_cast<size_t>(p.rows) * channelCount;
  if (p.cells.size() < needed) p.cells.resize(needed);
  if (p.cells.size() <= index) p.cells.resize(index + 1);
  return p.cells[index];
}

std::vector<uint8_t> writeXm(const XmModulePlan& plan) {
  std::vector<uint8_t> out;
  Bytes b(out);
  b.text(plan.signature, 17);
  b.text(plan.name, 20);
  b.u8(0x1A);
  b.text(plan.trackerName, 20);
  b.u16le(plan.version);
  int32_t headerSize = plan.headerSize.value_or(276);
  b.s32le(headerSize);
  b.u16le(plan.songLength);
  b.u16le(plan.restartPosition);
  b.u16le(plan.channelCount);
  b.u16le(plan.patternCountOverride.value_or(static_cast<uint16_t>(plan.patterns.size())));
  b.u16le(plan.instrumentCountOverride.value_or(static_cast<uint16_t>(plan.instruments.size())));
  b.u16le(plan.flags);
  b.u16le(plan.speed);
  b.u16le(plan.tempo);
  for (uint8_t o : plan.orderList) b.u8(o);
  // The rest starts at 60 + header size: pad a longer header, let a shorter
  // one be overlapped by what follows (but never cut into the fixed fields).
  int64_t target = 60 + static_cast<int64_t>(headerSize);
  if (target > static_cast<int64_t>(out.size())) {
    out.resize(static_cast<size_t>(target), 0);
  } else if (target >= 80) {
    out.resize(static_cast<size_t>(target));
  }

  int channels = plan.channelCount;
  if (plan.version == 0x0104) {
    for (const XmPatternPlan& p : plan.patterns) writePattern(b, p, plan.version, channels);
    for (const XmInstrumentPlan& ins : plan.instruments) {
      writeInstrumentHeaders(b, ins);
      writeSampleData(b, ins);
    }
  } else {
    for (const XmInstrumentPlan& ins : plan.instruments) writeInstrumentHeaders(b, ins);
    for (const XmPatternPlan& p : plan.patterns) writePattern(b, p, plan.version, channels);
    for (const XmInstrumentPlan& ins : plan.instruments) writeSampleData(b, ins);
  }
  return out;
}

XmSamplePlan squareSample(int frames, int period, int16_t amplitude) {
  XmSamplePlan s;
  s.name = "square";
  s.pcm.resize(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    s.pcm[static_cast<size_t>(i)] = (i % period) < period / 2 ? amplitude : static_cast<int16_t>(-amplitude);
  }
  return s;
}

XmInstrumentPlan instrumentWith(XmSamplePlan sample) {
  XmInstrumentPlan ins;
  ins.name = sample.name;
  ins.samples.push_back(std::move(sample));
  return ins;
}

ModCell& ModModulePlan::cell(int pattern, int row, int channel) {
  if (patterns.size() <= static_cast<size_t>(pattern)) patterns.resize(static_cast<size_t>(pattern) + 1);
  std::vector<ModCell>& p = patterns[static_cast<size_t>(pattern)];
  size_t needed = 64 * static_cast<size_t>(channels);
  if (p.size() < needed) p.resize(needed);
  return p[static_cast<size_t>(row) * static_cast<size_t>(channels) + static_cast<size_t>(channel)];
}

std::vector<uint8_t> writeMod(const ModModulePlan& plan) {
  std::vector<uint8_t> out;
  Bytes b(out);
  size_t sampleSlots = plan.fifteenSamples ? 15 : 31;
  b.text(plan.name, 20);
  for (size_t k = 0; k < sampleSlots; ++k) {
    ModSamplePlan s = k < plan.samples.size() ? plan.samples[k] : ModSamplePlan{};
    b.text(s.name, 22);
    b.u16be(s.lengthWordsOverride.value_or(static_cast<uint16_t>(s.pcm.size() / 2)));
    b.u8(s.finetuneByte);
    b.u8(s.volume);
    b.u16be(s.loopStartWords);
    b.u16be(s.loopLengthWords);
  }
  b.u8(plan.songLength);
  b.u8(plan.restartByte);
  for (uint8_t o : plan.orderList) b.u8(o);
  if (!plan.fifteenSamples) b.text(plan.signature, 4);

  int highest = *std::max_element(plan.orderList.begin(), plan.orderList.end());
  size_t cellsPerPattern = 64 * static_cast<size_t>(plan.channels);
  for (int p = 0; p <= highest; ++p) {
    for (size_t i = 0; i < cellsPerPattern; ++i) {
      ModCell c;
      if (static_cast<size_t>(p) < plan.patterns.size() && i < plan.patterns[static_cast<size_t>(p)].size()) {
        c = plan.patterns[static_cast<size_t>(p)][i];
      }
      b.u8((c.instrument & 0xF0) | ((c.period >> 8) & 0x0F));
      b.u8(c.period & 0xFF);
      b.u8(((c.instrument & 0x0F) << 4) | (c.effect & 0x0F));
      b.u8(c.param);
    }
  }
  for (size_t k = 0; k < sampleSlots && k < plan.samples.size(); ++k) {
    const ModSamplePlan& s = plan.samples[k];
    size_t bytes = 2 * static_cast<size_t>(s.lengthWordsOverride.value_or(static_cast<uint16_t>(s.pcm.size() / 2)));
    for (size_t i = 0; i < bytes; ++i) b.u8(i < s.pcm.size() ? static_cast<uint8_t>(s.pcm[i]) : 0);
  }
  b.zeros(plan.trailingBytes);
  return out;
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  ok = std::fclose(f) == 0 && ok;
  return ok;
}

std::vector<uint8_t> readFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return bytes;
  uint8_t buffer[65536];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
  std::fclose(f);
  return bytes;
}

bool loadBytes(Engine& e, const std::vector<uint8_t>& bytes) {
  return loadModuleFromMemory(e, bytes.data(), static_cast<uint32_t>(bytes.size()));
}

}  // namespace zv::test

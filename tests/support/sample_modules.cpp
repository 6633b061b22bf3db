#include "support/sample_modules.h"

namespace zv::test {

XmModulePlan generatedXm(uint16_t version) {
  XmModulePlan plan;
  plan.version = version;
  plan.songLength = 3;
  plan.orderList[1] = 1;
  plan.orderList[2] = 2;
  plan.patterns.resize(3);
  plan.patterns[0].rows = 16;
  plan.patterns[1].rows = 8;
  plan.patterns[1].packing = XmPacking::unpacked;
  plan.patterns[2].rows = 12;
  plan.patterns[2].packing = XmPacking::alternating;
  for (int p = 0; p < 3; ++p) {
    for (int r = 0; r < plan.patterns[p].rows; r += 3) {
      plan.cell(p, r, r % 4) = {static_cast<uint8_t>(1 + (r * 7) % 96), static_cast<uint8_t>(1 + r % 3),
                                static_cast<uint8_t>(0x10 + r), static_cast<uint8_t>(r % 36),
                                static_cast<uint8_t>(r * 17)};
    }
  }
  XmInstrumentPlan a = instrumentWith(squareSample(120, 16, 90));
  a.samples[0].loopKind = 1;
  a.samples[0].loopStart = 20;
  a.samples[0].loopLength = 60;
  a.volumeEnvelope = {{{0, 64}, {8, 40}, {30, 0}}, 1, 0, 2, kEnvelopeOn | kEnvelopeSustain, std::nullopt};
  a.vibratoDepth = 4;
  a.vibratoRate = 9;
  a.fadeout = 800;
  XmSamplePlan wide = squareSample(70, 10, 12000);
  wide.sixteenBit = true;
  wide.loopKind = 2;
  wide.loopStart = 10;
  wide.loopLength = 30;
  XmInstrumentPlan b = instrumentWith(wide);
  b.samples.push_back(squareSample(33, 4, 50));
  b.headerSize = 300;
  XmInstrumentPlan empty;
  empty.name = "no samples";
  plan.instruments = {a, b, empty};
  return plan;
}

ModModulePlan generatedMod(bool fifteenSamples) {
  ModModulePlan plan;
  plan.fifteenSamples = fifteenSamples;
  plan.songLength = 3;
  plan.orderList[1] = 1;
  plan.orderList[2] = 0;
  for (int r = 0; r < 64; r += 2) {
    plan.cell(0, r, r % 4) = {static_cast<uint16_t>(113 + r * 20), static_cast<uint8_t>(1 + r % 3),
                              static_cast<uint8_t>(r % 16), static_cast<uint8_t>(r * 5)};
    plan.cell(1, 63 - r, 3) = {428, 2, 0x0C, 80};
  }
  for (int k = 0; k < 3; ++k) {
    ModSamplePlan s;
    for (int i = 0; i < 80 + 20 * k; ++i) s.pcm.push_back(static_cast<int8_t>((i * 37) & 0xFF));
    s.loopStartWords = static_cast<uint16_t>(5 * k);
    s.loopLengthWords = static_cast<uint16_t>(k == 0 ? 0 : 10 * k);
    s.volume = static_cast<uint8_t>(20 * k);
    s.finetuneByte = static_cast<uint8_t>(k * 5);
    plan.samples.push_back(s);
  }
  return plan;
}

XmModulePlan everyCommandXm() {
  XmModulePlan plan;
  plan.channelCount = 4;
  plan.songLength = 3;
  plan.orderList[1] = 1;
  plan.orderList[2] = 2;
  XmSamplePlan looped = squareSample(200, 20, 100);
  looped.loopKind = 1;
  looped.loopStart = 40;
  looped.loopLength = 120;
  XmInstrumentPlan a = instrumentWith(looped);
  a.volumeEnvelope = {{{0, 64}, {10, 32}, {20, 48}, {40, 0}}, 2, 1, 2, kEnvelopeOn | kEnvelopeSustain | kEnvelopeLoop,
                      std::nullopt};
  a.panningEnvelope = {{{0, 0}, {16, 64}, {32, 32}}, 1, 0, 2, kEnvelopeOn | kEnvelopeLoop, std::nullopt};
  a.vibratoType = 1;
  a.vibratoSweep = 8;
  a.vibratoDepth = 6;
  a.vibratoRate = 20;
  a.fadeout = 2000;
  XmSamplePlan wide = squareSample(300, 30, 20000);
  wide.sixteenBit = true;
  wide.loopKind = 2;
  wide.loopStart = 50;
  wide.loopLength = 200;
  plan.instruments = {a, instrumentWith(wide)};
  // Patterns 0 and 1: each effect with a small and a large parameter; pattern 2
  // every volume-column command.
  for (int effect = 0; effect < 36; ++effect) {
    const int pattern = effect < 18 ? 0 : 1;
    const int row = 2 * (effect % 18);
    const int channel = effect % 4;
    plan.cell(pattern, row, channel) = {static_cast<uint8_t>(37 + effect), static_cast<uint8_t>(1 + effect % 2), 0,
                                        static_cast<uint8_t>(effect), static_cast<uint8_t>(0x13 + effect)};
    plan.cell(pattern, row + 1, channel) = {0, 0, 0, static_cast<uint8_t>(effect), 0xF1};
  }
  // The extended commands E0x..EFx.
  for (int x = 0; x < 16; ++x) {
    plan.cell(1, 40 + x, (x + 1) % 4) = {static_cast<uint8_t>(49 + x), 1, 0, 14, static_cast<uint8_t>(16 * x + 2)};
  }
  for (int v = 0; v < 16; ++v) {
    plan.cell(2, 2 * v, v % 4) = {static_cast<uint8_t>(40 + v), 2, static_cast<uint8_t>(16 * v + 5), 0, 0};
  }
  plan.cell(2, 40, 0) = {kKeyOffNote, 0, 0, 0, 0};
  return plan;
}

}  // namespace zv::test

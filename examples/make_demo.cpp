// Composes zelvix's demo tune and writes it as an XM module.
//
//   make_demo [output.xm]      (default: demo.xm)
//
// Every instrument is synthesised here; the tune is a short piece in A minor
// (Am - F - C - G) with drums, bass, a pad, an arpeggiated bell and a lead.
// It exercises envelopes with sustain and loops, auto-vibrato, ping-pong and
// forward loops, 8- and 16-bit samples, and a good part of the effect and
// volume columns.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "support/module_writer.h"

using zv::EnvelopePoint;
using zv::NoteCell;
using zv::test::XmEnvelopePlan;
using zv::test::XmInstrumentPlan;
using zv::test::XmModulePlan;
using zv::test::XmSamplePlan;

namespace {

constexpr double kPi = 3.14159265358979323846;
// A sample played at note C-4 runs at 8363 frames per second; one played at
// C-5 at twice that. The drums are synthesised for C-5.
constexpr double kDrumRate = 16726.0;

// Instrument numbers.
enum : uint8_t { kKick = 1, kSnare, kHat, kBass, kPad, kBell, kLead, kFlute };
// Channels.
enum : int { cKick, cSnare, cHat, cBass, cPad1, cPad2, cPad3, cBell, cLead, cEcho, kChannels };

// Notes: 1 is C-0; note(4, 0) is C-4 (49).
constexpr uint8_t note(int octave, int semitone) { return static_cast<uint8_t>(12 * octave + semitone + 1); }
constexpr uint8_t C = 0, D = 2, E = 4, F = 5, G = 7, A = 9, B = 11;
constexpr uint8_t kOff = zv::kKeyOffNote;

// Effects by their letters.
constexpr uint8_t fxArpeggio = 0x0, fxPortaUp = 0x1, fxTonePorta = 0x3, fxVibrato = 0x4,
                  fxPanning = 0x8, fxVolumeSlide = 0xA, fxSetVolume = 0xC, fxExtended = 0xE,
                  fxSpeed = 0xF, fxGlobalVolumeSlide = 17;

uint32_t noiseState = 0x2545F491u;
double noise() {
  noiseState = noiseState * 1664525u + 1013904223u;
  return static_cast<double>(noiseState >> 8) / static_cast<double>(1u << 23) - 1.0;
}

int16_t clip16(double v) {
  if (v > 32767.0) return 32767;
  if (v < -32768.0) return -32768;
  return static_cast<int16_t>(std::lround(v));
}

XmSamplePlan sample16(const char* name, std::vector<int16_t> pcm) {
  XmSamplePlan s;
  s.name = name;
  s.sixteenBit = true;
  s.pcm = std::move(pcm);
  return s;
}

// One cycle of `frames` frames from a sum of harmonics (amplitude / k^rolloff).
std::vector<int16_t> harmonicCycle(int frames, int harmonics, double rolloff, double amplitude,
                                   bool oddOnly = false) {
  std::vector<int16_t> pcm(static_cast<size_t>(frames));
  for (int i = 0; i < frames; ++i) {
    double x = 2.0 * kPi * i / frames;
    double v = 0.0;
    for (int k = 1; k <= harmonics; ++k) {
      if (oddOnly && k % 2 == 0) continue;
      v += std::sin(k * x) / std::pow(k, rolloff);
    }
    pcm[static_cast<size_t>(i)] = clip16(amplitude * v);
  }
  return pcm;
}

XmInstrumentPlan kick() {
  std::vector<int16_t> pcm(5200);
  double phase = 0.0;
  for (size_t i = 0; i < pcm.size(); ++i) {
    double t = static_cast<double>(i) / kDrumRate;
    double frequency = 45.0 + 110.0 * std::exp(-t * 28.0);
    phase += 2.0 * kPi * frequency / kDrumRate;
    double click = i < 60 ? noise() * (1.0 - static_cast<double>(i) / 60.0) * 0.4 : 0.0;
    pcm[i] = clip16(30000.0 * std::exp(-t * 9.0) * (std::sin(phase) + click));
  }
  XmInstrumentPlan ins = zv::test::instrumentWith(sample16("kick", pcm));
  ins.name = "synth kick";
  return ins;
}

XmInstrumentPlan snare() {
  std::vector<int16_t> pcm(3600);
  double phase = 0.0;
  for (size_t i = 0; i < pcm.size(); ++i) {
    double t = static_cast<double>(i) / kDrumRate;
    phase += 2.0 * kPi * 185.0 / kDrumRate;
    double body = std::sin(phase) * std::exp(-t * 30.0);
    double rattle = noise() * std::exp(-t * 14.0);
    pcm[i] = clip16(21000.0 * (0.6 * body + rattle));
  }
  XmInstrumentPlan ins = zv::test::instrumentWith(sample16("snare", pcm));
  ins.name = "noise snare";
  return ins;
}

// An 8-bit hi-hat: differenced noise for brightness.
XmInstrumentPlan hat() {
  XmSamplePlan s;
  s.name = "hat";
  s.pcm.resize(1400);
  double previous = 0.0;
  for (size_t i = 0; i < s.pcm.size(); ++i) {
    double t = static_cast<double>(i) / kDrumRate;
    double n = noise();
    double v = (n - previous) * 0.5 * std::exp(-t * 45.0);
    previous = n;
    s.pcm[i] = static_cast<int16_t>(std::lround(std::fmax(-1.0, std::fmin(1.0, v)) * 120.0));
  }
  XmInstrumentPlan ins = zv::test::instrumentWith(s);
  ins.name = "hi-hat";
  ins.samples[0].panning = 168;
  return ins;
}

// A saw-like bass, one 64-frame cycle looped, so every note sounds an octave
// below its name. Plucked: quick decay to a sustain level, fade after key-off.
XmInstrumentPlan bass() {
  XmSamplePlan s = sample16("bass", harmonicCycle(64, 10, 1.0, 14000.0));
  s.loopKind = zv::kLoopForward;
  s.loopStart = 0;
  s.loopLength = 64;
  XmInstrumentPlan ins = zv::test::instrumentWith(s);
  ins.name = "pluck bass";
  ins.volumeEnvelope.points = {{0, 64}, {3, 50}, {16, 38}, {40, 30}};
  ins.volumeEnvelope.sustainPoint = 3;
  ins.volumeEnvelope.flags = zv::kEnvelopeOn | zv::kEnvelopeSustain;
  ins.fadeout = 2048;
  return ins;
}

// Two slightly detuned triangles in one 2048-frame loop (64 and 65 cycles):
// a slow chorus beat. The volume envelope breathes in a loop and the panning
// envelope wanders.
XmInstrumentPlan pad() {
  std::vector<int16_t> pcm(2048);
  for (size_t i = 0; i < pcm.size(); ++i) {
    double a = std::asin(std::sin(2.0 * kPi * 64.0 * i / 2048.0));
    double b = std::asin(std::sin(2.0 * kPi * 65.0 * i / 2048.0));
    pcm[i] = clip16(8000.0 * (a + b));
  }
  XmSamplePlan s = sample16("pad", pcm);
  s.loopKind = zv::kLoopForward;
  s.loopLength = 2048;
  XmInstrumentPlan ins = zv::test::instrumentWith(s);
  ins.name = "chorus pad";
  ins.volumeEnvelope.points = {{0, 0}, {24, 48}, {60, 36}, {100, 46}};
  ins.volumeEnvelope.loopStartPoint = 1;
  ins.volumeEnvelope.loopEndPoint = 3;
  ins.volumeEnvelope.flags = zv::kEnvelopeOn | zv::kEnvelopeLoop;
  ins.panningEnvelope.points = {{0, 32}, {80, 18}, {160, 46}, {240, 32}};
  ins.panningEnvelope.loopStartPoint = 0;
  ins.panningEnvelope.loopEndPoint = 3;
  ins.panningEnvelope.flags = zv::kEnvelopeOn | zv::kEnvelopeLoop;
  ins.fadeout = 600;
  return ins;
}

// An 8-bit bell: sine with a few harmonics, one 32-frame cycle looped, with a
// decaying envelope.
XmInstrumentPlan bell() {
  XmSamplePlan s;
  s.name = "bell";
  s.pcm.resize(32);
  for (int i = 0; i < 32; ++i) {
    double x = 2.0 * kPi * i / 32.0;
    double v = std::sin(x) + 0.35 * std::sin(2 * x) + 0.2 * std::sin(3 * x) + 0.1 * std::sin(5 * x);
    s.pcm[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(v * 100.0));
  }
  s.loopKind = zv::kLoopForward;
  s.loopLength = 32;
  s.finetune = 4;
  XmInstrumentPlan ins = zv::test::instrumentWith(s);
  ins.name = "glass bell";
  ins.volumeEnvelope.points = {{0, 64}, {6, 34}, {24, 14}, {70, 0}};
  ins.volumeEnvelope.flags = zv::kEnvelopeOn;
  return ins;
}

// A soft pulse lead with auto-vibrato that sweeps in; sustain until key-off.
XmInstrumentPlan lead() {
  std::vector<int16_t> pcm(32);
  for (int i = 0; i < 32; ++i) {
    double x = 2.0 * kPi * i / 32.0;
    double v = 0.0;
    for (int k = 1; k <= 7; ++k) v += std::sin(k * kPi * 0.3) * std::sin(k * x) / k;
    pcm[static_cast<size_t>(i)] = clip16(14000.0 * v);
  }
  XmSamplePlan s = sample16("lead", pcm);
  s.loopKind = zv::kLoopForward;
  s.loopLength = 32;
  XmInstrumentPlan ins = zv::test::instrumentWith(s);
  ins.name = "pulse lead";
  ins.volumeEnvelope.points = {{0, 0}, {2, 64}, {10, 50}, {30, 44}, {60, 20}};
  ins.volumeEnvelope.sustainPoint = 3;
  ins.volumeEnvelope.flags = zv::kEnvelopeOn | zv::kEnvelopeSustain;
  ins.vibratoType = 0;
  ins.vibratoSweep = 40;
  ins.vibratoDepth = 6;
  ins.vibratoRate = 10;
  ins.fadeout = 1200;
  return ins;
}

// A breathy 8-bit flute for the echo voice: half a triangle played as a
// ping-pong loop (which makes the whole triangle), and a little noise attack.
XmInstrumentPlan flute() {
  XmSamplePlan s;
  s.name = "flute";
  const int attack = 96;
  s.pcm.resize(attack + 16);
  for (int i = 0; i < attack; ++i) {
    double ramp = -60.0 + 120.0 * (i % 16) / 15.0;
    s.pcm[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(ramp * 0.8 + noise() * 20.0));
  }
  for (int i = 0; i < 16; ++i) {
    s.pcm[static_cast<size_t>(attack + i)] = static_cast<int16_t>(std::lround(-60.0 + 120.0 * i / 15.0));
  }
  s.loopKind = zv::kLoopPingPong;
  s.loopStart = attack;
  s.loopLength = 16;
  XmInstrumentPlan ins = zv::test::instrumentWith(s);
  ins.name = "echo flute";
  ins.volumeEnvelope.points = {{0, 40}, {10, 48}, {40, 32}};
  ins.volumeEnvelope.sustainPoint = 2;
  ins.volumeEnvelope.flags = zv::kEnvelopeOn | zv::kEnvelopeSustain;
  ins.fadeout = 900;
  return ins;
}

struct Chord {
  uint8_t root;   // bass note (sounds an octave lower)
  uint8_t pad[3];
  uint8_t bell;
  uint8_t arp;    // arpeggio parameter
};

// Am - F - C/G - G, one chord per 16 rows.
const Chord kProgression[4] = {
    {note(3, A), {note(3, A), note(4, C), note(4, E)}, note(4, A), 0x37},
    {note(3, F), {note(3, F), note(3, A), note(4, C)}, note(4, F), 0x47},
    {note(4, C), {note(3, G), note(4, C), note(4, E)}, note(5, C), 0x47},
    {note(3, G), {note(3, G), note(3, B), note(4, D)}, note(4, G), 0x47},
};

class Composer {
 public:
  explicit Composer(XmModulePlan& song) : song_(song) {}

  void put(int pattern, int row, int channel, uint8_t n, uint8_t instrument, uint8_t volume = 0,
           uint8_t effect = 0, uint8_t param = 0) {
    NoteCell& c = song_.cell(pattern, row, channel);
    c = NoteCell{n, instrument, volume, effect, param};
  }
  void effect(int pattern, int row, int channel, uint8_t effect, uint8_t param) {
    NoteCell& c = song_.cell(pattern, row, channel);
    c.effect = effect;
    c.effectParam = param;
  }
  void volume(int pattern, int row, int channel, uint8_t volume) {
    song_.cell(pattern, row, channel).volumeColumn = volume;
  }

  void drums(int p, bool full) {
    for (int bar = 0; bar < 4; ++bar) {
      int r = bar * 16;
      put(p, r + 0, cKick, note(5, C), kKick);
      put(p, r + 8, cKick, note(5, C), kKick);
      if (full && bar % 2 == 1) put(p, r + 10, cKick, note(5, C), kKick, 0x30);
      put(p, r + 4, cSnare, note(5, C), kSnare);
      put(p, r + 12, cSnare, note(5, C), kSnare);
      for (int h = 0; h < 16; h += 2) {
        // Accented on the beat, softer off it; a retriggered roll closes every other bar.
        put(p, r + h, cHat, note(5, C), kHat, h % 4 == 0 ? 0x40 : 0x28);
      }
      if (full && bar % 2 == 1) effect(p, r + 14, cHat, fxExtended, 0x93);
    }
    if (full) {
      // A flam into the next pattern: the last snare delayed by two ticks.
      put(p, 62, cSnare, note(5, C), kSnare, 0x38, fxExtended, 0xD2);
    }
  }

  void bassLine(int p, bool busy) {
    for (int bar = 0; bar < 4; ++bar) {
      const Chord& ch = kProgression[bar];
      int r = bar * 16;
      static const int kRows[] = {0, 3, 6, 8, 10, 12, 14};
      static const int kOctave[] = {0, 0, 12, 0, 0, 12, 0};
      for (int i = 0; i < 7; ++i) {
        if (!busy && (i == 1 || i == 4)) continue;
        put(p, r + kRows[i], cBass, static_cast<uint8_t>(ch.root + kOctave[i]), kBass, 0x30);
        // Short notes: cut a few ticks in, except the octave jumps, which ring.
        if (kOctave[i] == 0) effect(p, r + kRows[i], cBass, fxExtended, 0xC4);
      }
      if (busy && bar == 3) {
        // Slide up into the next bar.
        put(p, r + 15, cBass, ch.root, kBass, 0x2C, fxPortaUp, 0x20);
      }
    }
  }

  void padChords(int p, uint8_t startVolume) {
    for (int bar = 0; bar < 4; ++bar) {
      const Chord& ch = kProgression[bar];
      for (int v = 0; v < 3; ++v) {
        put(p, bar * 16, cPad1 + v, ch.pad[v], kPad, startVolume);
      }
    }
  }

  void bellArpeggio(int p, bool pan) {
    for (int bar = 0; bar < 4; ++bar) {
      const Chord& ch = kProgression[bar];
      for (int beat = 0; beat < 4; ++beat) {
        int r = bar * 16 + beat * 4;
        uint8_t n = beat == 3 ? static_cast<uint8_t>(ch.bell + 12) : ch.bell;
        put(p, r, cBell, n, kBell, 0x2A, fxArpeggio, ch.arp);
        effect(p, r + 1, cBell, fxArpeggio, ch.arp);
        if (pan) effect(p, r + 2, cBell, fxPanning, beat % 2 == 0 ? 0x40 : 0xC0);
      }
    }
  }

  // A melody: (row, note, effect, param) events on the lead channel.
  struct Event {
    int row;
    uint8_t n;
    uint8_t effect;
    uint8_t param;
    uint8_t volume;
  };
  void melody(int p, const std::vector<Event>& events) {
    for (const Event& e : events) {
      bool starts = e.n != 0 && e.n != kOff && e.effect != fxTonePorta;
      uint8_t instrument = starts ? kLead : 0;
      put(p, e.row, cLead, e.n, instrument, e.volume, e.effect, e.param);
    }
  }
  // The echo voice repeats the melody one beat late, quieter, a delay tick in.
  void echo(int p, const std::vector<Event>& events) {
    for (const Event& e : events) {
      if (e.row + 4 >= 64 || e.n == 0 || e.effect == fxTonePorta) continue;
      if (e.n == kOff) {
        put(p, e.row + 4, cEcho, kOff, 0);
      } else {
        put(p, e.row + 4, cEcho, e.n, kFlute, 0x1C, fxExtended, 0xD1);
      }
    }
  }

 private:
  XmModulePlan& song_;
};

const std::vector<Composer::Event> kMelodyA = {
    {0, note(4, A), 0, 0, 0x38},          {4, note(5, C), 0, 0, 0},
    {6, note(5, D), 0, 0, 0},             {8, note(5, E), fxVibrato, 0x34, 0},
    {10, 0, fxVibrato, 0, 0},             {12, note(5, D), 0, 0, 0},
    {14, note(5, C), 0, 0, 0},            {16, note(4, A), 0, 0, 0},
    {20, note(5, C), fxTonePorta, 0x18, 0}, {24, note(4, G), 0, 0, 0},
    {26, note(4, A), 0, 0, 0},            {28, kOff, 0, 0, 0},
    {32, note(5, E), 0, 0, 0},            {36, note(5, G), 0, 0, 0},
    {38, note(5, E), 0, 0, 0},            {40, note(5, D), fxVibrato, 0x45, 0},
    {42, 0, fxVibrato, 0, 0},             {44, note(5, C), 0, 0, 0},
    {48, note(4, B), fxVolumeSlide, 0x01, 0}, {52, note(4, G), 0, 0, 0},
    {54, note(4, A), fxVibrato, 0x36, 0}, {56, 0, fxVibrato, 0, 0},
    {60, kOff, 0, 0, 0},
};

const std::vector<Composer::Event> kMelodyB = {
    {0, note(5, E), 0, 0, 0x3A},          {2, note(5, G), fxTonePorta, 0x20, 0},
    {6, note(5, E), 0, 0, 0},             {8, note(5, D), 0, 0, 0},
    {10, note(5, C), 0, 0, 0},            {12, note(5, D), fxVibrato, 0x44, 0},
    {16, note(5, C), 0, 0, 0},            {18, note(4, A), 0, 0, 0},
    {20, note(5, C), 0, 0, 0},            {22, note(5, F), fxTonePorta, 0x10, 0},
    {28, note(5, E), 0, 0, 0},            {32, note(5, G), 0, 0, 0},
    {34, note(5, E), 0, 0, 0},            {36, note(5, D), 0, 0, 0},
    {38, note(5, C), 0, 0, 0},            {40, note(5, D), fxVibrato, 0x46, 0},
    {46, kOff, 0, 0, 0},                  {48, note(4, B), 0, 0, 0x30},
    {50, note(5, D), 0, 0, 0},            {52, note(5, G), fxVibrato, 0x35, 0},
    {56, note(5, F), 0, 0, 0},            {58, note(5, D), 0, 0, 0},
    {60, note(4, B), fxVolumeSlide, 0x02, 0},
};

XmModulePlan compose() {
  XmModulePlan song;
  song.name = "zelvix demo: glasswork";
  song.channelCount = kChannels;
  song.speed = 6;
  song.tempo = 125;
  song.flags = 1;
  song.instruments = {kick(), snare(), hat(), bass(), pad(), bell(), lead(), flute()};

  Composer c(song);
  // 0: intro, the pad swells in; hats and bass join halfway.
  c.padChords(0, 0x18);
  c.effect(0, 0, cPad1, fxVolumeSlide, 0x10);
  c.effect(0, 0, cPad2, fxVolumeSlide, 0x10);
  c.effect(0, 0, cPad3, fxVolumeSlide, 0x10);
  for (int r = 32; r < 64; r += 2) c.put(0, r, cHat, note(5, C), kHat, r % 4 == 0 ? 0x38 : 0x20);
  for (int r = 32; r < 64; r += 4) c.put(0, r, cBass, kProgression[r / 16].root, kBass, 0x2C);
  c.put(0, 56, cSnare, note(5, C), kSnare, 0x20);
  c.put(0, 60, cSnare, note(5, C), kSnare, 0x30, fxExtended, 0x92);
  // 1: the groove with the bell arpeggio.
  c.drums(1, true);
  c.bassLine(1, false);
  c.padChords(1, 0x28);
  c.bellArpeggio(1, false);
  // 2: the first melody.
  c.drums(2, true);
  c.bassLine(2, true);
  c.padChords(2, 0x24);
  c.melody(2, kMelodyA);
  c.echo(2, kMelodyA);
  // 3: the second melody over the bell, panned from side to side.
  c.drums(3, true);
  c.bassLine(3, true);
  c.padChords(3, 0x20);
  c.bellArpeggio(3, true);
  c.melody(3, kMelodyB);
  // 4: breakdown: kick on the bar, bell and echoes only.
  for (int bar = 0; bar < 4; ++bar) c.put(4, bar * 16, cKick, note(5, C), kKick, 0x34);
  c.padChords(4, 0x30);
  c.bellArpeggio(4, true);
  c.echo(4, kMelodyB);
  c.put(4, 48, cSnare, note(5, C), kSnare, 0x18);
  for (int r = 52; r < 64; ++r) c.put(4, r, cSnare, note(5, C), kSnare, static_cast<uint8_t>(0x14 + (r - 52) * 3));
  // 5: outro: the groove slows down and fades away on A minor.
  c.drums(5, false);
  c.bassLine(5, false);
  c.padChords(5, 0x28);
  c.melody(5, {{0, note(4, A), 0, 0, 0x34}, {8, note(5, C), 0, 0, 0}, {16, note(4, A), fxVibrato, 0x34, 0},
               {24, 0, fxVibrato, 0, 0}, {32, note(4, E), 0, 0, 0}, {40, note(4, A), fxTonePorta, 0x08, 0},
               {56, kOff, 0, 0, 0}});
  for (int v = 0; v < 3; ++v) c.put(5, 48, cPad1 + v, kProgression[0].pad[v], kPad, 0x30);
  c.effect(5, 48, cBell, fxSpeed, 8);
  c.effect(5, 50, cBell, fxGlobalVolumeSlide, 0x01);
  for (int r = 51; r < 64; ++r) c.effect(5, r, cBell, fxGlobalVolumeSlide, 0x00);
  c.put(5, 63, cPad1, kOff, 0);

  const uint8_t order[] = {0, 1, 2, 3, 4, 2, 5};
  song.songLength = sizeof order;
  for (size_t i = 0; i < sizeof order; ++i) song.orderList[i] = order[i];
  return song;
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "demo.xm";
  std::vector<uint8_t> bytes = zv::test::writeXm(compose());
  if (!zv::test::writeFile(path, bytes)) {
    std::printf("Error: Couldn't write %s!\n", path);
    return 1;
  }
  std::printf("Wrote %s (%zu bytes)\n", path, bytes.size());
  return 0;
}

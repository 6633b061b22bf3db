#include "support/hostile_input.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "audio/player.h"
#include "audio/wav_render.h"
#include "frontend/console.h"
#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "mixer/mix_routines.h"
#include "mixer/voices.h"
#include "replayer/channel.h"
#include "replayer/tick_engine.h"
#include "support/clean_player.h"
#include "support/module_writer.h"
#include "support/song_invariants.h"

namespace zv::test {

namespace {

// The instruction set the program would mix with.
const MixTarget& startUpMixTarget() { return mixTargetFor(std::getenv("ZELVIX_SIMD")); }

uint16_t u16At(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A clean player at the given settings: no song, no MixBuffer, no flow
// request left from an earlier run.
void setUpPlayer(Engine& e, const RenderOptions& options) {
  cleanPlayer(e, options.frequency, options.bufferSize, options.interpolation, options.volumeRamping);
  useMixTarget(options.vectorMixing ? startUpMixTarget() : mixTargets().back());
}

// What playback may never leave behind, checked after every tick.
std::string playbackViolation(Engine& e) {
  // A break or loop into a shorter pattern may leave the row past its end
  // (such rows read as empty), but never beyond what a break can name.
  if (e.song.row < 0 || e.song.row > std::max<int16_t>(e.song.patternLength, 256)) return "row out of range";
  if (e.song.globalVolume > 64) return "global volume above 64";
  for (int i = 0; i < e.song.channelCount; ++i) {
    const Channel& ch = e.channels[i];
    if (ch.finalVolume > 256) return "final volume above 256";
    if (ch.volume > 64) return "channel volume above 64";
    if (ch.instrument == nullptr) return "channel without an instrument";
  }
  for (int v = 0; v < 2 * e.song.channelCount; ++v) {
    const Voice& voice = e.mixer.voices[v];
    if (voice.flags & Voice::stopped) continue;
    if (voice.position < 0 || voice.position > voice.end) return "voice position outside its sample";
  }
  return "";
}

// renderTick with at most `cap` frames mixed and converted.
int32_t renderShortTick(Engine& e, int16_t* out, int32_t cap) {
  const int32_t frames = std::min(runTick(e), cap);
  std::memset(e.player.mixBuffer, 0, static_cast<size_t>(frames) * 2 * sizeof(int32_t));
  mixAllVoices(e, frames, 0);
  convertMixBuffer(e, out, frames, 256);
  return frames * 4;
}

std::string renderByTicks(Engine& e, const RenderBudget& budget) {
  const int32_t frequency = e.player.mixingFrequency;
  static std::vector<int16_t> tick;
  tick.resize(static_cast<size_t>(maxTickFrames(96000)) * 2);
  stopPlayback(e);
  if (!allocateMixBuffer(e, maxTickFrames(frequency))) return "no MixBuffer";
  prepareRender(e, frequency, e.player.amp, 0);
  std::string problem;
  int64_t frames = 0;
  for (int32_t t = 0; t < budget.ticks && frames < budget.frames; ++t) {
    if (songEndReached(e)) break;
    const int32_t bytes = budget.framesPerTick > 0 ? renderShortTick(e, tick.data(), budget.framesPerTick)
                                                   : renderTick(e, tick.data());
    if (bytes <= 0 || bytes > maxTickFrames(frequency) * 4) {
      problem = "tick of " + std::to_string(bytes) + " bytes";
      break;
    }
    frames += bytes / 4;
    problem = playbackViolation(e);
    if (!problem.empty()) break;
  }
  freeMixBuffer(e);
  finishRender(e);
  stopPlayback(e);
  return problem;
}

std::string renderLive(Engine& e, const RenderOptions& options, const RenderBudget& budget) {
  const int32_t bufferFrames = std::clamp(options.bufferSize, 1, 4096);
  static std::vector<int16_t> out;
  out.resize(2 * 4096 * 2);
  resetVoices(e.mixer, e.audioLock);
  resetChannels(e);
  e.song.globalVolume = 64;
  e.song.samplesPerTick = tickFrames(e.player.mixingFrequency, e.song.tempo);
  e.player.rampLength = std::max<int32_t>(1, e.player.mixingFrequency / 200);
  setMasterVolume(e, options.masterVolume);
  if (!allocateMixBuffer(e, bufferFrames)) return "no MixBuffer";
  std::string problem;
  int64_t frames = 0;
  // Requests of varying size, some longer than the MixBuffer.
  for (uint32_t call = 0; frames < budget.frames; ++call) {
    const int32_t request = static_cast<int32_t>(1 + (call * 2654435761u >> 7) % (2 * 4096));
    fillOutputBuffer(e, out.data(), request);
    frames += request;
    if (options.keyEvery > 0 && call % static_cast<uint32_t>(options.keyEvery) == 0) {
      static constexpr char keys[] = {'+', '-', ' ', '+', ' ', '-', '-'};
      handleKey(e, keys[(call / static_cast<uint32_t>(options.keyEvery)) % sizeof keys]);
    }
    problem = playbackViolation(e);
    if (!problem.empty()) break;
  }
  stopPlayback(e);
  return problem;
}

std::string renderToFile(Engine& e, const RenderBudget& budget) {
  e.renderActive = true;
  const auto limit = static_cast<uint32_t>(std::min<int64_t>(budget.frames / 4, 1 << 26) * 4);
  RenderResult result = renderSongToWav(e, "/dev/null", limit);
  if (e.renderActive) return "render left e.renderActive set";
  return result == RenderResult::ok ? "" : "render to /dev/null failed";
}

}  // namespace

RenderOptions renderOptionsFrom(const uint8_t* b) {
  RenderOptions options;
  options.frequency = 4000 + static_cast<int32_t>((b[0] | (b[1] << 8) | ((b[2] & 1) << 16)) % 100000);
  options.amp = b[3] % 40;
  options.masterVolume = b[4] == 255 ? 300 : b[4];
  options.interpolation = (b[5] & 1) != 0;
  options.volumeRamping = (b[5] & 2) != 0;
  options.vectorMixing = (b[2] & 2) == 0;
  options.keyEvery = b[2] >> 2;
  switch ((b[5] >> 2) % 4) {
    case 0:
    case 1:
      options.path = RenderPath::ticks;
      break;
    case 2:
      options.path = RenderPath::live;
      break;
    default:
      options.path = RenderPath::wavFile;
      break;
  }
  options.bufferSize = 1 + u16At(b + 6) % 4096;
  return options;
}

uint64_t songHeapBytes(Engine& e) {
  uint64_t bytes = 0;
  for (int n = 0; n < kPatternSlots; ++n) {
    if (e.song.patterns[n] != nullptr) {
      bytes += uint64_t{e.song.patternRows[n]} * e.song.channelCount * sizeof(NoteCell);
    }
  }
  for (const Instrument* ins : e.song.instruments) {
    if (ins == nullptr) continue;
    bytes += sizeof(Instrument);
    for (const Sample& s : ins->samples) {
      if (s.data != nullptr) bytes += static_cast<uint64_t>(s.length) + kSampleGuardBytes + kSampleZeroTailBytes;
    }
  }
  return bytes;
}

uint64_t songHeapBound(uint64_t fileSize) {
  // Each file byte fills at most one 5-byte cell or one sample byte; an XM
  // body may start inside the 336-byte header and read part of it again.
  const uint64_t filled = uint64_t{sizeof(NoteCell)} * (fileSize + 336);
  constexpr uint64_t instruments = uint64_t{kInstrumentSlots} * sizeof(Instrument);
  constexpr uint64_t sampleOverhead =
      uint64_t{kInstrumentSlots} * kSamplesPerInstrument * (kSampleGuardBytes + kSampleZeroTailBytes);
  return filled + kUnsuppliedCellBytesLimit + kUnsuppliedSampleBytesLimit + instruments + sampleOverhead;
}

std::string loadAndRender(Engine& e, const uint8_t* data, size_t size, const RenderOptions& options,
                          const RenderBudget& budget) {
  if (size > UINT32_MAX) return "";
  setUpPlayer(e, options);
  setAmp(e, options.amp);
  std::vector<uint8_t> copy(data, data + size);
  const bool loaded = loadModuleFromMemory(e, copy.empty() ? nullptr : copy.data(), static_cast<uint32_t>(size));
  copy = {};  // the song must not depend on the caller's block
  std::string problem;
  if (!loaded) {
    if (e.song.songLoaded != 0) problem = "failed load left songLoaded set";
  } else if (e.song.songLoaded != 1) {
    problem = "load without songLoaded";
  } else {
    problem = songInvariantViolation(e.song);
    if (problem.empty() && songHeapBytes(e) > songHeapBound(size)) problem = "song holds more heap than its bound";
    if (problem.empty() && (budget.ticks > 0 || budget.frames > 0)) {
      switch (options.path) {
        case RenderPath::ticks:
          problem = renderByTicks(e, budget);
          break;
        case RenderPath::live:
          problem = renderLive(e, options, budget);
          break;
        case RenderPath::wavFile:
          problem = renderToFile(e, budget);
          break;
      }
    }
  }
  freeSong(e);
  useMixTarget(startUpMixTarget());
  return problem;
}

std::string runLoadInput(Engine& e, const uint8_t* data, size_t size) {
  return loadAndRender(e, data, size, RenderOptions{}, RenderBudget{0, 0});
}

std::string runRenderInput(Engine& e, const uint8_t* data, size_t size) {
  uint8_t optionBytes[kRenderOptionBytes] = {};
  const size_t moduleBytes = size > kRenderOptionBytes ? size - kRenderOptionBytes : 0;
  std::memcpy(optionBytes, data + moduleBytes, size - moduleBytes);
  return loadAndRender(e, data, moduleBytes, renderOptionsFrom(optionBytes), RenderBudget{});
}

// ---------------------------------------------------------------- structured

namespace {

// Takes values from the front of the input; past its end every value is 0.
class ByteSource {
 public:
  ByteSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }
  uint32_t u32() { return u16() | (uint32_t{u16()} << 16); }
  // 0..n-1
  uint32_t below(uint32_t n) { return n == 0 ? 0 : (n <= 256 ? u8() % n : u16() % n); }
  bool chance(uint8_t in256) { return u8() < in256; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// PCM of `frames` frames from a small generator, so sample content costs
// one input byte: a square, a ramp, noise or silence.
std::vector<int16_t> pcmFrom(ByteSource& in, int32_t frames, bool sixteenBit) {
  const uint8_t shape = in.u8();
  std::vector<int16_t> pcm(static_cast<size_t>(frames));
  const int32_t high = sixteenBit ? 32767 : 127;
  uint32_t noise = shape * 2654435761u + 1;
  for (int32_t i = 0; i < frames; ++i) {
    int32_t v;
    switch (shape & 3) {
      case 0:
        v = (i / (1 + (shape >> 2))) % 2 ? high : -high - 1;
        break;
      case 1:
        v = (i * (1 + (shape >> 2))) % (2 * high + 1) - high;
        break;
      case 2:
        noise = noise * 1664525u + 1013904223u;
        v = static_cast<int32_t>(noise >> 16) % (high + 1);
        break;
      default:
        v = 0;
        break;
    }
    pcm[static_cast<size_t>(i)] = static_cast<int16_t>(v);
  }
  return pcm;
}

XmEnvelopePlan envelopeFrom(ByteSource& in) {
  XmEnvelopePlan e;
  const int points = static_cast<int>(in.below(13));
  uint16_t tick = 0;
  for (int i = 0; i < points; ++i) {
    // Mostly rising ticks; now and then any value, even a falling one.
    tick = in.chance(24) ? in.u16() : static_cast<uint16_t>(tick + in.below(40));
    uint16_t value = in.chance(24) ? in.u16() : static_cast<uint16_t>(in.below(66));
    e.points.push_back({tick, value});
  }
  if (in.chance(40)) e.pointCountOverride = in.u8();
  const bool wild = in.chance(40);
  e.sustainPoint = wild ? in.u8() : static_cast<uint8_t>(in.below(13));
  e.loopStartPoint = wild ? in.u8() : static_cast<uint8_t>(in.below(13));
  e.loopEndPoint = wild ? in.u8() : static_cast<uint8_t>(in.below(13));
  e.flags = in.u8();
  return e;
}

XmSamplePlan xmSampleFrom(ByteSource& in) {
  XmSamplePlan s;
  s.sixteenBit = in.chance(100);
  const int32_t frames = static_cast<int32_t>(in.below(700));
  s.pcm = pcmFrom(in, frames, s.sixteenBit);
  s.loopKind = in.u8() & 3;
  s.loopStart = static_cast<int32_t>(in.below(static_cast<uint32_t>(frames) + 8));
  s.loopLength = static_cast<int32_t>(in.below(static_cast<uint32_t>(frames) + 8));
  s.volume = in.chance(200) ? static_cast<uint8_t>(in.below(65)) : in.u8();
  s.finetune = static_cast<int8_t>(in.u8());
  s.panning = in.u8();
  s.relativeNote = static_cast<int8_t>(in.chance(200) ? static_cast<int>(in.below(49)) - 24 : in.u8());
  if (in.chance(20)) s.extraTypeBits = in.u8() & 0xEC;
  const uint8_t oddities = in.u8();
  if (oddities & 1) {
    // A byte length of its own (odd for 16-bit data) with exactly that many bytes.
    const int32_t bytes = static_cast<int32_t>(in.below(1400));
    s.lengthBytes = bytes;
    std::vector<uint8_t> raw(static_cast<size_t>(bytes));
    for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i * 97 + oddities);
    s.rawData = raw;
  }
  if (oddities & 2) s.loopStartBytes = static_cast<int32_t>(in.u32());
  if (oddities & 4) s.loopLengthBytes = static_cast<int32_t>(in.u32());
  if (oddities & 8) s.loopStartBytes = static_cast<int32_t>(in.below(1500));
  if (oddities & 16) s.loopLengthBytes = static_cast<int32_t>(in.below(1500));
  return s;
}

XmInstrumentPlan xmInstrumentFrom(ByteSource& in) {
  XmInstrumentPlan ins;
  ins.name = "fuzz";
  const int samples = static_cast<int>(in.below(4));
  for (int s = 0; s < samples; ++s) ins.samples.push_back(xmSampleFrom(in));
  // The map: one sample for all notes, then a few notes changed.
  const uint8_t base = in.chance(220) ? static_cast<uint8_t>(in.below(static_cast<uint32_t>(samples) + 1)) : in.u8();
  ins.sampleMap.fill(base);
  for (int k = static_cast<int>(in.below(4)); k > 0; --k) ins.sampleMap[in.below(96)] = in.u8();
  ins.volumeEnvelope = envelopeFrom(in);
  ins.panningEnvelope = envelopeFrom(in);
  ins.vibratoType = in.u8();
  ins.vibratoSweep = in.u8();
  ins.vibratoDepth = in.u8();
  ins.vibratoRate = in.u8();
  ins.fadeout = in.u16();
  ins.muteByte = static_cast<uint8_t>(in.below(3));
  if (in.chance(16)) ins.headerSize = static_cast<int32_t>(in.below(400));
  if (in.chance(8)) ins.sampleCountOverride = static_cast<uint16_t>(in.below(18));
  return ins;
}

std::vector<uint8_t> xmFrom(ByteSource& in) {
  XmModulePlan plan;
  constexpr uint16_t versions[] = {0x0104, 0x0103, 0x0102};
  plan.version = versions[in.below(3)];
  plan.channelCount = static_cast<uint16_t>(2 * (1 + (in.chance(200) ? in.below(4) : in.below(16))));
  plan.flags = in.u8() & 1;
  plan.speed = in.chance(230) ? static_cast<uint16_t>(in.below(32)) : in.u16();
  plan.tempo = in.chance(230) ? in.u8() : in.u16();
  const int instrumentCount = static_cast<int>(in.below(5));
  for (int i = 0; i < instrumentCount; ++i) plan.instruments.push_back(xmInstrumentFrom(in));

  const int patternCount = static_cast<int>(1 + in.below(6));
  for (int p = 0; p < patternCount; ++p) {
    XmPatternPlan pattern;
    pattern.rows = in.chance(230) ? static_cast<uint16_t>(1 + in.below(64)) : static_cast<uint16_t>(in.below(1100));
    pattern.packing = static_cast<XmPacking>(in.below(3));
    if (in.chance(10)) pattern.headerLength = static_cast<int32_t>(in.below(20));
    plan.patterns.push_back(pattern);
    for (int c = static_cast<int>(in.below(48)); c > 0; --c) {
      const int row = static_cast<int>(in.below(std::max<uint32_t>(pattern.rows, 1)));
      const int channel = static_cast<int>(in.below(plan.channelCount));
      NoteCell cell;
      cell.note = in.chance(230) ? static_cast<uint8_t>(in.below(98)) : in.u8();
      cell.instrument = in.chance(230) ? static_cast<uint8_t>(in.below(static_cast<uint32_t>(instrumentCount) + 2))
                                       : in.u8();
      cell.volumeColumn = in.u8();
      cell.effect = in.chance(240) ? static_cast<uint8_t>(in.below(36)) : in.u8();
      cell.effectParam = in.u8();
      if (pattern.rows > 0) plan.cell(p, row, channel) = cell;
    }
    // cell() may have sized the pattern for its default 64 rows.
    plan.patterns[static_cast<size_t>(p)].cells.resize(static_cast<size_t>(pattern.rows) * plan.channelCount);
  }
  plan.songLength = in.chance(240) ? static_cast<uint16_t>(1 + in.below(12)) : in.u16();
  plan.restartPosition = static_cast<uint16_t>(in.below(plan.songLength + 2u));
  for (int i = 0; i < 256; ++i) plan.orderList[static_cast<size_t>(i)] = static_cast<uint8_t>(in.below(patternCount + 1));
  if (in.chance(8)) plan.headerSize = static_cast<int32_t>(in.below(300));
  return writeXm(plan);
}

std::vector<uint8_t> modFrom(ByteSource& in) {
  ModModulePlan plan;
  static const char* const signatures[] = {"M.K.", "M.K.", "M.K.", "8CHN", "6CHN", "2CHN", "FLT4", "M!K!", "OCTA",
                                           "12CH", "16CH", "32CH", "4CHN", "3CHN"};
  const char* signature = signatures[in.below(std::size(signatures))];
  plan.signature = signature;
  plan.fifteenSamples = in.chance(30);
  if (plan.fifteenSamples || std::strcmp(signature, "4CHN") == 0 || std::strcmp(signature, "3CHN") == 0 ||
      std::strcmp(signature, "FLT4") == 0 || std::strcmp(signature, "M!K!") == 0 || std::strcmp(signature, "M.K.") == 0) {
    plan.channels = 4;
  } else if (std::strcmp(signature, "OCTA") == 0) {
    plan.channels = 8;
  } else {
    plan.channels = std::atoi(signature);
  }
  const int patternCount = static_cast<int>(1 + in.below(4));
  plan.songLength = in.chance(240) ? static_cast<uint8_t>(1 + in.below(8)) : in.u8();
  plan.restartByte = in.chance(200) ? static_cast<uint8_t>(in.below(plan.songLength + 1u)) : in.u8();
  // 15-sample modules keep their order entries below 128.
  for (int i = 0; i < 128; ++i) plan.orderList[static_cast<size_t>(i)] = static_cast<uint8_t>(in.below(patternCount));
  static constexpr uint16_t periods[] = {1712, 856, 428, 214, 107, 113, 120, 453, 907, 3424, 28, 6848};
  for (int p = 0; p < patternCount; ++p) {
    for (int c = static_cast<int>(in.below(48)); c > 0; --c) {
      ModCell& cell = plan.cell(p, static_cast<int>(in.below(64)), static_cast<int>(in.below(plan.channels)));
      cell.period = in.chance(200) ? periods[in.below(std::size(periods))] : in.u16() & 0x0FFF;
      cell.instrument = static_cast<uint8_t>(in.below(plan.fifteenSamples ? 17 : 33));
      cell.effect = in.u8() & 0x0F;
      cell.param = in.u8();
    }
  }
  const int sampleCount = static_cast<int>(in.below(6));
  for (int k = 0; k < sampleCount; ++k) {
    ModSamplePlan s;
    const int32_t words = static_cast<int32_t>(in.below(400));
    std::vector<int16_t> pcm = pcmFrom(in, 2 * words, false);
    for (int16_t v : pcm) s.pcm.push_back(static_cast<int8_t>(v));
    s.loopStartWords = static_cast<uint16_t>(in.below(static_cast<uint32_t>(words) + 4));
    s.loopLengthWords = static_cast<uint16_t>(in.below(static_cast<uint32_t>(words) + 4));
    s.volume = in.chance(220) ? static_cast<uint8_t>(in.below(65)) : in.u8();
    s.finetuneByte = in.chance(220) ? static_cast<uint8_t>(in.below(16)) : 15;
    plan.samples.push_back(s);
  }
  // The file must be longer than its header even without sample data.
  plan.trailingBytes = 2;
  return writeMod(plan);
}

}  // namespace

std::vector<uint8_t> structuredModule(const uint8_t* data, size_t size, RenderOptions& options) {
  uint8_t optionBytes[kRenderOptionBytes] = {};
  std::memcpy(optionBytes, data, std::min(size, kRenderOptionBytes));
  options = renderOptionsFrom(optionBytes);
  const size_t skip = std::min(size, kRenderOptionBytes);
  ByteSource in(data + skip, size - skip);
  return (in.u8() & 3) == 0 ? modFrom(in) : xmFrom(in);
}

std::string runStructuredInput(Engine& e, const uint8_t* data, size_t size) {
  RenderOptions options;
  std::vector<uint8_t> module = structuredModule(data, size, options);
  return loadAndRender(e, module.data(), module.size(), options, RenderBudget{});
}

}  // namespace zv::test

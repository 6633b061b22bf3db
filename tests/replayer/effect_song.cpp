#include "effect_song.h"

#include "audio/player.h"
#include "loader/song_memory.h"
#include "replayer/notes.h"
#include "replayer/tick_engine.h"

namespace zv::test {

namespace {

struct Start {
  int channel;
  int32_t position;
};
std::vector<Start> starts;

void recordStart(void*, int channelIndex, const VoiceUpdate& update) {
  starts.push_back({channelIndex, update.startPosition});
}

}  // namespace

void EffectSong::SetUp() {
  setupReplayer(engine, 44100, 1024, true, true);
  plan = XmModulePlan{};
  plan.channelCount = 2;
  plan.speed = 6;
  plan.tempo = 125;
  XmSamplePlan sample = squareSample(1024);
  sample.loopKind = 1;
  sample.loopLength = 1024;
  plan.instruments = {instrumentWith(sample)};
  starts.clear();
  engine.noteStartSink = VoiceUpdateSink{recordStart, nullptr};
}

void EffectSong::TearDown() {
  engine.noteStartSink = VoiceUpdateSink{};
  freeSong(engine);
  starts.clear();
}

void EffectSong::put(int row, int channel, NoteCell cell, int pattern) {
  plan.cell(pattern, row, channel) = cell;
}

void EffectSong::load() {
  setupReplayer(engine, 44100, 1024, true, true);
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  song.globalVolume = 64;
  song.patternDelay = 0;
  song.patternDelayCounter = 0;
  song.breakRow = 0;
  song.positionJump = 0;
  song.patternLoopJump = 0;
  starts.clear();
}

void EffectSong::tick() {
  for (Channel& channel : channels) channel.status = 0;
  playerTick(engine);
}

void EffectSong::ticks(int n) {
  for (int i = 0; i < n; i++) tick();
}

int EffectSong::noteStarts(int channel) const {
  int n = 0;
  for (const Start& s : starts) n += s.channel == channel;
  return n;
}

int32_t EffectSong::lastStartPosition(int channel) const {
  for (auto it = starts.rbegin(); it != starts.rend(); ++it) {
    if (it->channel == channel) return it->position;
  }
  return -1;
}

}  // namespace zv::test

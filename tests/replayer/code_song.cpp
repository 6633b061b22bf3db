#include "code_song.h"

#include <cstring>

#include "core/player_settings.h"
#include "replayer/notes.h"
#include "replayer/pitch.h"
#include "replayer/tick_engine.h"

namespace zv::test {

namespace {

std::vector<RecordedTrigger> recorded;

void recordTrigger(void*, int channelIndex, const VoiceUpdate& update) {
  recorded.push_back({channelIndex, update});
}

void clearSongRecord() {
  std::memset(song.name, 0, sizeof song.name);
  song.channelCount = 0;
  song.patternDelay = 0;
  song.patternDelayCounter = 0;
  song.breakRow = 0;
  std::memset(song.orderList, 0, sizeof song.orderList);
  song.patternLoopJump = 0;
  song.positionJump = 0;
  song.songPosition = 0;
  song.patternNumber = 0;
  song.row = 0;
  song.patternLength = 0;
  song.songLength = 0;
  song.restartPosition = 0;
  song.tempo = 125;
  song.speed = 6;
  song.globalVolume = 64;
  song.tickCounter = 1;
  song.formatVersion = 0x0104;
  song.instrumentCount = 0;
  for (auto& p : song.patterns) p = nullptr;
  for (auto& r : song.patternRows) r = kAbsentPatternRows;
  for (auto& i : song.instruments) i = nullptr;
  song.linearFrequencies = 1;
  song.periodTable = linearPeriodTable;
  song.songLoaded = 0;
  song.paused = 0;
  song.samplesPerTick = 882;
  song.currentChannel = 0;
}

Instrument* makeInstrument() {
  auto* ins = new Instrument{};
  for (Sample& s : ins->samples) {
    s.volume = 64;
    s.panning = 128;
  }
  return ins;
}

}  // namespace

void CodeSong::SetUp() {
  clearSongRecord();
  for (Channel& ch : channels) ch = Channel{};
  player.mixingFrequency = 44100;
  player.amigaStepFactor = 21276843;
  player.linearStepFactor = 3181584;
  instrumentBlocks_.emplace_back(makeInstrument());
  instrumentBlocks_.back()->samples[0].volume = 0;
  song.instruments[0] = instrumentBlocks_.back().get();
  song.channelCount = 4;
  song.songLength = 1;
  recorded.clear();
  engine.noteStartSink = VoiceUpdateSink{recordTrigger, nullptr};
  start();
}

void CodeSong::TearDown() {
  engine.noteStartSink = VoiceUpdateSink{};
  for (Channel& ch : channels) ch = Channel{};
  clearSongRecord();
  recorded.clear();
}

NoteCell& CodeSong::cell(int pattern, int row, int channel, int rows) {
  if (song.patterns[pattern] == nullptr) {
    const size_t count = static_cast<size_t>(rows) * song.channelCount;
    patternBlocks_.emplace_back(new NoteCell[count]());
    song.patterns[pattern] = patternBlocks_.back().get();
    song.patternRows[pattern] = static_cast<uint16_t>(rows);
    if (song.patternNumber == pattern) song.patternLength = static_cast<int16_t>(rows);
  }
  return song.patterns[pattern][row * song.channelCount + channel];
}

Instrument& CodeSong::instrument(int number) {
  instrumentBlocks_.emplace_back(makeInstrument());
  song.instruments[number] = instrumentBlocks_.back().get();
  return *instrumentBlocks_.back();
}

void CodeSong::setOrder(std::vector<uint8_t> order, uint16_t restartPosition) {
  for (size_t i = 0; i < order.size(); i++) song.orderList[i] = order[i];
  song.songLength = static_cast<uint16_t>(order.size());
  song.restartPosition = restartPosition;
}

void CodeSong::start() {
  rewindSong(engine);
  song.globalVolume = 64;
}

void CodeSong::ticks(int n) {
  for (int i = 0; i < n; i++) playerTick(engine);
}

const std::vector<RecordedTrigger>& CodeSong::triggers() const { return recorded; }
void CodeSong::clearTriggers() { recorded.clear(); }

}  // namespace zv::test

#include "replayer/tick_engine.h"

#include "replayer/effects.h"
#include "replayer/envelopes.h"
#include "replayer/notes.h"
#include "replayer/volume_column.h"

namespace zv {

const NoteCell emptyRow[kMaxChannels] = {};

namespace {

constexpr uint8_t kExtendedEffect = 14;
constexpr uint8_t kTonePortamento = 3;
constexpr uint8_t kTonePortamentoVolumeSlide = 5;
constexpr uint8_t kVibrato = 4;
constexpr uint8_t kVibratoVolumeSlide = 6;
constexpr uint8_t kKeyOffEffect = 20;
constexpr uint8_t kMultiRetrig = 27;
constexpr uint8_t kLastEffect = 35;

int activeChannelCount(const Engine& e) {
  return e.song.channelCount < kMaxChannels ? e.song.channelCount : kMaxChannels;
}

bool effectPresent(uint8_t effect, uint8_t param) {
  return effect <= kLastEffect && (effect != 0 || param != 0);
}

// The cells of the current row. An absent pattern, and a row at or past the
// pattern's block (entered at breakRow into a shorter pattern), read as empty.
const NoteCell* currentRowCells(const Engine& e) {
  const int number = e.song.patternNumber;
  if (number < 0 || number >= kPatternSlots) return emptyRow;
  const NoteCell* cells = e.song.patterns[number];
  if (cells == nullptr || e.song.row < 0 || e.song.row >= e.song.patternRows[number]) return emptyRow;
  return cells + e.song.row * e.song.channelCount;
}

// The note and instrument of a row, the first case that applies.
void startRowNote(Engine& e, Channel& ch, const NoteCell& c, bool instrumentGiven) {
  if (c.volumeColumn >= 0xF0) {
    if ((c.volumeColumn & 0x0F) != 0) ch.portaSpeed = static_cast<uint16_t>((c.volumeColumn & 0x0F) * 64);
    preparePortamento(e, ch, c, instrumentGiven);
  } else if (c.effect == kKeyOffEffect && c.effectParam == 0) {
    keyOff(ch);
    if (instrumentGiven) restoreSampleVolumes(ch);
  } else if (c.effect == kTonePortamentoVolumeSlide) {
    preparePortamento(e, ch, c, instrumentGiven);
  } else if (c.effect == kTonePortamento) {
    if (c.effectParam != 0) ch.portaSpeed = static_cast<uint16_t>(c.effectParam * 4);
    preparePortamento(e, ch, c, instrumentGiven);
  } else if (c.note == 0) {
    if (instrumentGiven) {
      restoreSampleVolumes(ch);
      retriggerInstrument(ch);
    }
  } else if (c.note == kKeyOffNote) {
    keyOff(ch);
    if (instrumentGiven) restoreSampleVolumes(ch);
  } else {
    startNote(e, c.note, c.effect, c.effectParam, ch);
    if (instrumentGiven) {
      restoreSampleVolumes(ch);
      retriggerInstrument(ch);
    }
  }
}

// Retrigger with interval 0 (E90): the row's note, or the last note for
// none, starts whatever the other columns say.
void retriggerRowNote(Engine& e, Channel& ch, const NoteCell& c, bool instrumentGiven) {
  if (c.note == kKeyOffNote) {
    keyOff(ch);
    if (instrumentGiven) restoreSampleVolumes(ch);
    return;
  }
  startNote(e, c.note, c.effect, c.effectParam, ch);
  if (instrumentGiven) {
    restoreSampleVolumes(ch);
    retriggerInstrument(ch);
  }
}

void readCell(Engine& e, int index, Channel& ch, const NoteCell& c) {
  e.song.currentChannel = static_cast<int16_t>(index);
  ch.volumeColumn = c.volumeColumn;

  // The period a vibrato or arpeggio moved comes back when it ends.
  const bool vibratoBefore = ch.effect == kVibrato || ch.effect == kVibratoVolumeSlide;
  const bool vibratoNow = c.effect == kVibrato || c.effect == kVibratoVolumeSlide;
  if ((vibratoBefore && !vibratoNow) || (ch.effect == 0 && ch.effectParam != 0)) {
    ch.outputPeriod = ch.realPeriod;
    ch.status |= Channel::periodChanged;
  }

  ch.effect = c.effect;
  ch.effectParam = c.effectParam;
  ch.noteAndInstrument = static_cast<uint16_t>(c.note + 256 * c.instrument);
  const bool instrumentGiven = c.instrument >= 1 && c.instrument <= 128;
  if (instrumentGiven) ch.instrumentNumber = c.instrument;

  if (c.effect == kExtendedEffect && c.effectParam >= 0xD1 && c.effectParam <= 0xDF) {
    return;  // note delay: the later-tick command plays the cell
  }
  if (c.effect == kExtendedEffect && c.effectParam == 0x90) {
    retriggerRowNote(e, ch, c, instrumentGiven);
  } else {
    startRowNote(e, ch, c, instrumentGiven);
  }

  uint8_t volumeResult = c.volumeColumn;
  firstTickVolumeColumn[c.volumeColumn >> 4](e, ch, volumeResult);

  if (!effectPresent(ch.effect, ch.effectParam)) return;
  if (ch.effect == kMultiRetrig) {
    if ((ch.effectParam & 0x0F) != 0) ch.retrigSpeed = ch.effectParam & 0x0F;
    if (ch.effectParam > 15) ch.retrigVolumeCommand = ch.effectParam >> 4;
    if (volumeResult == 0) multiRetrigStep(e, ch);
  } else {
    firstTickEffects[ch.effect](e, ch, ch.effectParam);
  }
}

void readRow(Engine& e) {
  const int count = activeChannelCount(e);
  if (count == 0) return;
  const NoteCell* cells = currentRowCells(e);
  for (int i = 0; i < count; i++) {
    readCell(e, i, e.channels[i], cells[i]);
    if (e.channelOutputs) updateChannelOutput(e, e.channels[i]);
  }
}

void continueRow(Engine& e) {
  const int count = activeChannelCount(e);
  for (int i = 0; i < count; i++) {
    Channel& ch = e.channels[i];
    e.song.currentChannel = static_cast<int16_t>(i);
    if (ch.volumeColumn >= 0x10) laterTickVolumeColumn[ch.volumeColumn >> 4](e, ch);
    if (effectPresent(ch.effect, ch.effectParam)) laterTickEffects[ch.effect](e, ch, ch.effectParam);
    if (e.channelOutputs) updateChannelOutput(e, ch);
  }
}

void enterSongPosition(Engine& e, int position) {
  e.song.songPosition = static_cast<int16_t>(position);
  e.song.playingPosition = e.song.songPosition;
  e.song.patternNumber = e.song.orderList[position & 0xFF];
  e.song.patternLength = static_cast<int16_t>(e.song.patternRows[e.song.patternNumber]);
}

// At the end of a row's last tick: repetitions, loop jump, next row or position.
void stepRow(Engine& e) {
  const int16_t oldRow = e.song.row;
  e.song.row = static_cast<int16_t>(oldRow + 1);

  uint8_t repeats = e.song.patternDelay;
  if (repeats != 0) {
    e.song.patternDelay = 0;
  } else {
    repeats = e.song.patternDelayCounter;
  }
  if (repeats != 0) {
    e.song.patternDelayCounter = static_cast<uint8_t>(repeats - 1);
    if (e.song.patternDelayCounter != 0) e.song.row = oldRow;
  }

  if (e.song.patternLoopJump == 1) {
    e.song.patternLoopJump = 0;
    e.song.row = static_cast<int16_t>(e.song.breakRow);  // breakRow keeps its value
  }

  if (e.song.row >= e.song.patternLength || e.song.positionJump == 1) {
    e.song.row = static_cast<int16_t>(e.song.breakRow);
    e.song.breakRow = 0;
    e.song.positionJump = 0;
    int position = static_cast<int16_t>(e.song.songPosition + 1);
    if (position >= e.song.songLength) position = e.song.restartPosition;
    enterSongPosition(e, position);
    e.song.positionEntered = 1;
  }
}

}  // namespace

void playerTick(Engine& e) {
  if (e.song.paused != 0) return;
  e.song.tickCounter = static_cast<uint16_t>(e.song.tickCounter - 1);
  bool rowTick = false;
  if (e.song.tickCounter == 0) {
    e.song.tickCounter = e.song.speed;
    rowTick = e.song.patternDelayCounter == 0;
  }
  if (rowTick) {
    readRow(e);
  } else {
    continueRow(e);
  }
  if (e.song.tickCounter == 1) stepRow(e);
}

void setTempo(Engine& e, uint16_t tempo) {
  const int32_t f = e.player.mixingFrequency;
  const int32_t t = tempo != 0 ? tempo : 125;
  e.song.samplesPerTick = (2 * f + f / 2) / t;
}

void setPosition(Engine& e, int32_t position, int32_t row) {
  if (position != -1) {
    if (e.song.songLength != 0 && position >= e.song.songLength) position = e.song.songLength - 1;
    enterSongPosition(e, position);
  }
  if (row != -1) {
    if (row >= e.song.patternLength) row = e.song.patternLength - 1;
    e.song.row = static_cast<int16_t>(row);
  }
  e.song.tickCounter = 1;
}

void rewindSong(Engine& e) {
  e.song.tickCounter = 1;
  resetChannels(e);
  enterSongPosition(e, 0);
  e.song.row = 0;
  if (e.song.row >= e.song.patternLength) e.song.row = static_cast<int16_t>(e.song.patternLength - 1);
  e.song.tickCounter = 1;
}

void resetChannels(Engine& e) {
  AudioLockHold hold(e.audioLock);
  resetChannelsWithLockHeld(e);
}

void resetChannelsWithLockHeld(Engine& e) {
  for (Channel& ch : e.channels) {
    ch.status = Channel::volumeChanged;
    ch.relativeNote = 0;
    ch.instrumentNumber = 0;
    ch.volume = 0;
    ch.sampleVolume = 0;
    ch.outputVolume = 0;
    ch.finalVolume = 0;
    ch.noteAndInstrument = 0;
    ch.vibratoDepth = 0;
    ch.samplePanning = 128;
    ch.panning = 128;
    ch.finalPanning = 128;
    ch.instrument = e.song.instruments[0];
  }
}

}  // namespace zv

#include "replayer/tick_engine.h"

#include "core/audio_lock.h"
#include "core/player_settings.h"
#include "replayer/effects.h"
#include "replayer/envelopes.h"
#include "replayer/notes.h"
#include "replayer/volume_column.h"

namespace zv {

Channel channels[kMaxChannels];
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

int activeChannelCount() {
  return song.channelCount < kMaxChannels ? song.channelCount : kMaxChannels;
}

bool effectPresent(uint8_t effect, uint8_t param) {
  return effect <= kLastEffect && (effect != 0 || param != 0);
}

// The cells of the current row. An absent pattern, and a row at or past the
// pattern's block (entered at breakRow into a shorter pattern), read as empty.
const NoteCell* currentRowCells() {
  const int number = song.patternNumber;
  if (number < 0 || number >= kPatternSlots) return emptyRow;
  const NoteCell* cells = song.patterns[number];
  if (cells == nullptr || song.row < 0 || song.row >= song.patternRows[number]) return emptyRow;
  return cells + song.row * song.channelCount;
}

// The note and instrument of a row, the first case that applies.
void startRowNote(Channel& ch, const NoteCell& c, bool instrumentGiven) {
  if (c.volumeColumn >= 0xF0) {
    if ((c.volumeColumn & 0x0F) != 0) ch.portaSpeed = static_cast<uint16_t>((c.volumeColumn & 0x0F) * 64);
    preparePortamento(ch, c, instrumentGiven);
  } else if (c.effect == kKeyOffEffect && c.effectParam == 0) {
    keyOff(ch);
    if (instrumentGiven) restoreSampleVolumes(ch);
  } else if (c.effect == kTonePortamentoVolumeSlide) {
    preparePortamento(ch, c, instrumentGiven);
  } else if (c.effect == kTonePortamento) {
    if (c.effectParam != 0) ch.portaSpeed = static_cast<uint16_t>(c.effectParam * 4);
    preparePortamento(ch, c, instrumentGiven);
  } else if (c.note == 0) {
    if (instrumentGiven) {
      restoreSampleVolumes(ch);
      retriggerInstrument(ch);
    }
  } else if (c.note == kKeyOffNote) {
    keyOff(ch);
    if (instrumentGiven) restoreSampleVolumes(ch);
  } else {
    startNote(c.note, c.effect, c.effectParam, ch);
    if (instrumentGiven) {
      restoreSampleVolumes(ch);
      retriggerInstrument(ch);
    }
  }
}

// Retrigger with interval 0 (E90): the row's note, or the last note for
// none, starts whatever the other columns say.
void retriggerRowNote(Channel& ch, const NoteCell& c, bool instrumentGiven) {
  if (c.note == kKeyOffNote) {
    keyOff(ch);
    if (instrumentGiven) restoreSampleVolumes(ch);
    return;
  }
  startNote(c.note, c.effect, c.effectParam, ch);
  if (instrumentGiven) {
    restoreSampleVolumes(ch);
    retriggerInstrument(ch);
  }
}

void readCell(int index, Channel& ch, const NoteCell& c) {
  song.currentChannel = static_cast<int16_t>(index);
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
    retriggerRowNote(ch, c, instrumentGiven);
  } else {
    startRowNote(ch, c, instrumentGiven);
  }

  uint8_t volumeResult = c.volumeColumn;
  firstTickVolumeColumn[c.volumeColumn >> 4](ch, volumeResult);

  if (!effectPresent(ch.effect, ch.effectParam)) return;
  if (ch.effect == kMultiRetrig) {
    if ((ch.effectParam & 0x0F) != 0) ch.retrigSpeed = ch.effectParam & 0x0F;
    if (ch.effectParam > 15) ch.retrigVolumeCommand = ch.effectParam >> 4;
    if (volumeResult == 0) multiRetrigStep(ch);
  } else {
    firstTickEffects[ch.effect](ch, ch.effectParam);
  }
}

void readRow() {
  const int count = activeChannelCount();
  if (count == 0) return;
  const NoteCell* cells = currentRowCells();
  for (int i = 0; i < count; i++) {
    readCell(i, channels[i], cells[i]);
    updateChannelOutput(channels[i]);
  }
}

void continueRow() {
  const int count = activeChannelCount();
  for (int i = 0; i < count; i++) {
    Channel& ch = channels[i];
    song.currentChannel = static_cast<int16_t>(i);
    if (ch.volumeColumn >= 0x10) laterTickVolumeColumn[ch.volumeColumn >> 4](ch);
    if (effectPresent(ch.effect, ch.effectParam)) laterTickEffects[ch.effect](ch, ch.effectParam);
    updateChannelOutput(ch);
  }
}

void enterSongPosition(int position) {
  song.songPosition = static_cast<int16_t>(position);
  song.patternNumber = song.orderList[position & 0xFF];
  song.patternLength = static_cast<int16_t>(song.patternRows[song.patternNumber]);
}

// At the end of a row's last tick: repetitions, loop jump, next row or position.
void stepRow() {
  const int16_t oldRow = song.row;
  song.row = static_cast<int16_t>(oldRow + 1);

  uint8_t repeats = song.patternDelay;
  if (repeats != 0) {
    song.patternDelay = 0;
  } else {
    repeats = song.patternDelayCounter;
  }
  if (repeats != 0) {
    song.patternDelayCounter = static_cast<uint8_t>(repeats - 1);
    if (song.patternDelayCounter != 0) song.row = oldRow;
  }

  if (song.patternLoopJump == 1) {
    song.patternLoopJump = 0;
    song.row = static_cast<int16_t>(song.breakRow);  // breakRow keeps its value
  }

  if (song.row >= song.patternLength || song.positionJump == 1) {
    song.row = static_cast<int16_t>(song.breakRow);
    song.breakRow = 0;
    song.positionJump = 0;
    int position = static_cast<int16_t>(song.songPosition + 1);
    if (position >= song.songLength) position = song.restartPosition;
    enterSongPosition(position);
    song.positionEntered = 1;
  }
}

}  // namespace

void playerTick() {
  if (song.paused != 0) return;
  song.tickCounter = static_cast<uint16_t>(song.tickCounter - 1);
  bool rowTick = false;
  if (song.tickCounter == 0) {
    song.tickCounter = song.speed;
    rowTick = song.patternDelayCounter == 0;
  }
  if (rowTick) {
    readRow();
  } else {
    continueRow();
  }
  if (song.tickCounter == 1) stepRow();
}

void setTempo(uint16_t tempo) {
  const int32_t f = player.mixingFrequency;
  const int32_t t = tempo != 0 ? tempo : 125;
  song.samplesPerTick = (2 * f + f / 2) / t;
}

void setPosition(int32_t position, int32_t row) {
  if (position != -1) {
    if (song.songLength != 0 && position >= song.songLength) position = song.songLength - 1;
    enterSongPosition(position);
  }
  if (row != -1) {
    if (row >= song.patternLength) row = song.patternLength - 1;
    song.row = static_cast<int16_t>(row);
  }
  song.tickCounter = 1;
}

void rewindSong() {
  song.tickCounter = 1;
  resetChannels();
  enterSongPosition(0);
  song.row = 0;
  if (song.row >= song.patternLength) song.row = static_cast<int16_t>(song.patternLength - 1);
  song.tickCounter = 1;
}

void resetChannels() {
  lockAudio();
  resetChannelsWithLockHeld();
  unlockAudio();
}

void resetChannelsWithLockHeld() {
  for (Channel& ch : channels) {
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
    ch.instrument = song.instruments[0];
  }
}

}  // namespace zv

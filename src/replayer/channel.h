// Per-channel replayer state. An engine holds 32 records at all times; only
// the first song.channelCount are processed. The playback position and clock
// live in the Song record (song.h).
#pragma once

#include <cstdint>

#include "replayer/song.h"

namespace zv {

struct Channel {
  // status bits: what the voice layer must hear about after a tick.
  static constexpr uint8_t volumeChanged = 0x01;
  static constexpr uint8_t periodChanged = 0x02;
  static constexpr uint8_t noteTriggered = 0x04;  // set with all others on a note start
  static constexpr uint8_t panningChanged = 0x08;
  static constexpr uint8_t quickRamp = 0x10;      // the volume change uses the short ramp

  uint8_t status;
  int8_t relativeNote;
  int8_t finetune;
  uint8_t sampleIndex;
  uint8_t instrumentNumber;  // last instrument 1..128 given on this channel; 0 none
  uint8_t effect;
  uint8_t effectParam;
  uint8_t sampleOffsetMemory;
  uint8_t tremorMemory;
  uint8_t tremorState;  // bit 7 sounding phase, bits 0-6 ticks left
  uint8_t globalVolumeSlideMemory;
  uint8_t panningSlideMemory;
  uint8_t instrumentMuted;
  uint8_t waveControl;  // bits 0-1 vibrato wave, 0x04 keep phase; bits 4-5 tremolo, 0x40
  uint8_t portaDirection;  // 0 nothing, 1 period rises to target, 2 falls
  uint8_t glissando;
  uint8_t vibratoPosition;
  uint8_t tremoloPosition;
  uint8_t vibratoSpeed;
  uint8_t vibratoDepth;
  uint8_t tremoloSpeed;
  uint8_t tremoloDepth;
  uint16_t patternLoopRow;  // a row of a pattern of up to 1024 rows
  uint8_t patternLoopCount;
  uint8_t volumeSlideMemory;  // shared by 5xy, 6xy, Axy
  uint8_t fineVolumeUpMemory;
  uint8_t fineVolumeDownMemory;
  uint8_t finePortaUpMemory;
  uint8_t finePortaDownMemory;
  uint8_t extraFinePortaUpMemory;
  uint8_t extraFinePortaDownMemory;
  uint8_t portaUpMemory;
  uint8_t portaDownMemory;
  uint8_t retrigSpeed;
  uint8_t retrigCounter;
  uint8_t retrigVolumeCommand;
  uint8_t volumeColumn;
  uint8_t lastNote;
  uint8_t panningEnvelopePoint;
  uint8_t autoVibratoPosition;
  uint8_t volumeEnvelopePoint;
  uint8_t volume;        // 0..64
  uint8_t sampleVolume;
  uint8_t outputVolume;  // after tremolo and tremor, 0..64
  uint8_t samplePanning;
  uint8_t panning;       // 0..255, 128 centre
  uint8_t finalPanning;  // what the voice receives
  uint8_t keyOn;
  int16_t volumeEnvelopeDelta;
  int16_t panningEnvelopeDelta;
  uint16_t outputPeriod;  // after vibrato, arpeggio, glissando
  uint16_t realPeriod;    // base period, moved by portamentos
  uint16_t finalPeriod;   // after auto-vibrato
  uint16_t finalVolume;   // 0..256, what the voice receives
  uint16_t noteAndInstrument;  // row's note (low byte) and raw instrument byte (high)
  uint16_t portaTargetPeriod;
  uint16_t portaSpeed;
  uint16_t volumeEnvelopeTick;
  uint16_t volumeEnvelopeValue;  // 8.8, 64.0 full
  uint16_t panningEnvelopeTick;
  uint16_t panningEnvelopeValue;  // 8.8, 32.0 centre
  uint16_t autoVibratoDepth;      // 8.8
  uint16_t autoVibratoSweep;      // 8.8 per tick; 0 = sweep done
  uint16_t fadeoutVolume;         // 0..32768
  uint16_t fadeoutSpeed;
  uint32_t sampleOffset;          // frames
  const Instrument* instrument;   // never null while a song is loaded
};

}  // namespace zv

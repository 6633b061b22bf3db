// Periods (larger is lower) and their conversion to 16.16 mixer steps.
// A note's table index is 16 x note + (finetune >> 3): 16 entries per semitone.
#pragma once

#include <cstdint>

#include "replayer/engine.h"

namespace zv {

constexpr int kPeriodTableSize = 1936;

// Entry i = 7744 - 4i: 64 per semitone.
extern const uint16_t (&linearPeriodTable)[kPeriodTableSize];
// Geometric, built from the octave of notes 48..59; note 49 is 1712.
extern const uint16_t (&amigaPeriodTable)[kPeriodTableSize];
extern const uint32_t pitchTable[768];  // round(2^24 x 2^(i/768)): 2^(i/768) in 8.24
// The arpeggio's choice per tick counter: 0 base note, 1 high nibble, other
// values the low nibble.
extern const uint8_t arpeggioTickTable[32];

// e.song.periodTable, or the linear table while none is set.
const uint16_t* notePeriodTable(const Engine& e);

// Under the engine's audio lock, from e.player.mixingFrequency:
// amigaStepFactor and linearStepFactor (the only floating point in the program).
void computeFrequencyFactors(Engine& e);

// The mixer step of `period` in the song's frequency mode; 0 for period 0.
uint32_t periodToStep(const Engine& e, uint16_t period);

// The period of the semitone nearest `period` at `finetune`, moved up by
// `semitones` (0..15). Result indices of 1550 and above read entry 1551.
uint16_t nearestNotePeriod(const Engine& e, uint16_t period, int8_t finetune, uint8_t semitones);

// Effect 0 on a later tick: outputPeriod chosen by arpeggioTickTable at the
// low byte of tickCounter (counters above 31 choose the base note), then
// periodChanged.
void arpeggio(Engine& e, Channel& ch, uint8_t param);

}  // namespace zv

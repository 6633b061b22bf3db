// Periods (larger is lower) and their conversion to 16.16 mixer steps.
#pragma once

#include <cstdint>

#include "replayer/channel.h"

namespace zv {

constexpr int kPeriodTableSize = 1936;

extern const uint16_t linearPeriodTable[kPeriodTableSize];
extern const uint16_t amigaPeriodTable[kPeriodTableSize];
extern const uint32_t pitchTable[768];  // 2^(i/768) in 8.24
extern const uint8_t arpeggioTickTable[32];

// Under the audio lock, from player.mixingFrequency: amigaStepFactor and
// linearStepFactor (the only floating point in the program).
void computeFrequencyFactors();

// The mixer step of `period` in the song's frequency mode; 0 for period 0.
uint32_t periodToStep(uint16_t period);

// The period of the semitone nearest `period` at `finetune`, moved up by
// `semitones` (0..15).
uint16_t nearestNotePeriod(uint16_t period, int8_t finetune, uint8_t semitones);

// Effect 0 on a later tick: outputPeriod by arpeggioTickTable and `param`.
void arpeggio(Channel& ch, uint8_t param);

}  // namespace zv

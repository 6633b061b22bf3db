// The effect column: tables of operations indexed by effect number (0..35)
// and by the extended command's sub-command (Exy, x = 0..15).
#pragma once

#include <cstdint>

#include "replayer/channel.h"

namespace zv {

constexpr int kEffectCount = 36;

using EffectOperation = void (*)(Channel& ch, uint8_t param);

extern const EffectOperation firstTickEffects[kEffectCount];  // row's first tick
extern const EffectOperation laterTickEffects[kEffectCount];  // the other ticks
extern const EffectOperation firstTickExtended[16];           // Exy on the first tick, given y
extern const EffectOperation laterTickExtended[16];           // Exy on later ticks, given y

// Steps shared with the volume column and the tick engine.
void vibratoStep(Channel& ch);
void tonePortamentoStep(Channel& ch);
void multiRetrigStep(Channel& ch);

// The tick number within the row: speed - tickCounter, in 8 bits.
uint8_t tickInRow();

}  // namespace zv

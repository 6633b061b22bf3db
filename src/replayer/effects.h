// The effect column: tables of operations indexed by effect number (0..35)
// and by the extended command's sub-command (Exy, x = 0..15).
//
// The tick engine calls firstTickEffects on the row's first tick and
// laterTickEffects on every other tick (and on the first tick of a row that a
// pattern delay repeats, where tickInRow() is 0). It does the tick-0 set-up
// of 3, 5, 20 with parameter 0, 27, E90 and ED1..EDF itself. Operations only
// write the channel and the playback fields of the engine's song; what the voice layer
// must hear about is marked in the channel's status. Effects that act only on
// later ticks also keep their memories there, so at speed 1 they do nothing.
#pragma once

#include <cstdint>

#include "replayer/engine.h"

namespace zv {

constexpr int kEffectCount = 36;

using EffectOperation = void (*)(Engine& e, Channel& ch, uint8_t param);

extern const EffectOperation firstTickEffects[kEffectCount];  // row's first tick
extern const EffectOperation laterTickEffects[kEffectCount];  // the other ticks
extern const EffectOperation firstTickExtended[16];           // Exy on the first tick, given y
extern const EffectOperation laterTickExtended[16];           // Exy on later ticks, given y

// Shared by vibrato and tremolo: a half sine over 32 steps, 0..255.
extern const uint8_t vibratoSineTable[32];

// Steps shared with the volume column and the tick engine.
// One vibrato step: outputPeriod = realPeriod +- the waveform at
// vibratoPosition scaled by vibratoDepth; the phase advances by vibratoSpeed.
void vibratoStep(Channel& ch);
// One step of realPeriod toward portaTargetPeriod by portaSpeed; once there,
// portaDirection is 1 and the period stays at the target. Glissando rounds
// the output to semitones. Direction 0 does nothing at all.
void tonePortamentoStep(Engine& e, Channel& ch);
// Counts toward retrigSpeed; on reaching it changes the volume by
// retrigVolumeCommand, re-applies the row's set-volume / set-panning byte and
// restarts the last note (no envelope restart).
void multiRetrigStep(Engine& e, Channel& ch);

// Portamentos keep realPeriod within 1..31999; outputPeriod follows.
void portamentoUp(Channel& ch, uint16_t amount);
void portamentoDown(Channel& ch, uint16_t amount);

// The row's volume-column byte applied again after a retrigger or a delayed
// note: 0x10..0x50 sets the volume, 0xC0..0xCF sets the panning; other bytes
// do nothing.
void reapplyVolumeColumn(Channel& ch);

// Lxx: puts both envelopes one tick before position `tick` (the panning
// envelope only when the volume envelope's sustain bit is set). Every point
// read stays within the 12 points whatever the instrument's counts say.
void setEnvelopePosition(Channel& ch, uint8_t tick);

// The tick number within the row: speed - tickCounter, in 8 bits.
uint8_t tickInRow(const Engine& e);

}  // namespace zv

// Fade-out, volume and panning envelopes and auto-vibrato: the channel's
// final volume, panning and period for the voice layer.
#pragma once

#include <cstdint>

#include "replayer/engine.h"

namespace zv {

// autoVibratoSineTable[i] = -round(64 sin(2 pi i / 256)).
extern const int8_t autoVibratoSineTable[256];

// Once per channel per tick, after that tick's row and effect work: fade-out,
// volume, panning, auto-vibrato; sets finalVolume, finalPanning, finalPeriod
// and the matching status bits. Reads e.song.globalVolume.
void updateChannelOutput(const Engine& e, Channel& ch);

}  // namespace zv

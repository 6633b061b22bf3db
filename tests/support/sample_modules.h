// Small modules built from code that touch most of what the readers and the
// replayer handle: every pattern packing, loops of each kind, 16-bit data,
// envelopes, both MOD forms. Used by the hostile-input tests and as fuzzing seeds.
#pragma once

#include <cstdint>
#include <vector>

#include "support/module_writer.h"

namespace zv::test {

// Three patterns (packed, unpacked, alternating) with notes and effects, an
// enveloped looped 8-bit instrument, a 16-bit ping-pong one with a second
// sample and a long header, and an instrument without samples.
XmModulePlan generatedXm(uint16_t version);

// Two patterns with notes, effects and a set-volume above 64, three samples
// (no loop, loops inside the sample).
ModModulePlan generatedMod(bool fifteenSamples);

// Every effect number 0..35 with a few parameters each, and every
// volume-column command, on a song with envelopes, auto-vibrato and loops.
XmModulePlan everyCommandXm();

}  // namespace zv::test

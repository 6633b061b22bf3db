// The mixing routines: one voice into the MixBuffer (player.mixBuffer).
#pragma once

#include <cstdint>

#include "mixer/voices.h"

namespace zv {

// Adds `count` frames of `voice` into the MixBuffer from frame `offset` on,
// advancing its position, wrapping loops and stopping it at the end of an
// unlooped sample. A stopped voice is left alone; a voice whose gains in use
// are all 0 is advanced without mixing. The routine comes from a table of 16
// indexed by voice.mixRoutine plus 8 when both sides are equal (centred).
// Calls whose frames do not lie inside the MixBuffer add nothing.
//
// Reads never leave the sample block: they reach at most the element after
// the guard element (the vector loops read 8-bit data four bytes at a time,
// so there up to the third byte after the guard byte). A block of the data,
// 2 bytes for the guard and 2 zero bytes behind them is enough. Steps are
// unsigned in both directions, loops of length 0 stop.
void mixVoice(Voice& voice, int32_t count, int32_t offset);

// One mixing routine; the table's entries. Exposed for tests and benchmarks.
using MixRoutine = void (*)(Voice& voice, int32_t count, int32_t offset);
extern const MixRoutine mixRoutines[16];

// Where the processor has 512-bit vectors the routines mix 16 samples at a
// time with them; the numbers are the same. Tests and benchmarks may turn
// them off (useWideMixing(false)) to run the plain loops.
bool wideMixingAvailable();
void useWideMixing(bool on);

}  // namespace zv

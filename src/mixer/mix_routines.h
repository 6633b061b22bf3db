// The mixing routines: one voice into an engine's MixBuffer.
#pragma once

#include <cstdint>
#include <span>

#include "core/player_settings.h"
#include "mixer/voices.h"

namespace zv {

// Adds `count` frames of `voice` into player.mixBuffer from frame `offset` on,
// advancing its position, wrapping loops and stopping it at the end of an
// unlooped sample. A stopped voice is left alone; a voice whose gains in use
// are all 0 is advanced without mixing. The routine comes from a table of 16
// indexed by voice.mixRoutine plus 8 when both sides are equal (centred).
// Calls whose frames do not lie inside the MixBuffer add nothing. Reads
// player.volumeRamping, which must be the one the voice was updated with.
//
// Reads never leave the first voice.end x element size + 4 bytes of the
// sample block: the data, 2 bytes for the guard and 2 zero bytes behind them
// are enough (the vector loops read 8-bit data four bytes at a time, and
// windows of 16 bytes only where they fit). Steps are unsigned in both
// directions, loops of length 0 stop.
void mixVoice(const PlayerSettings& player, Voice& voice, int32_t count, int32_t offset);

// One mixing routine, the table's entries: `count` frames of `voice` added
// into the interleaved sums at `out` (the first frame's left sum).
// Exposed for tests and benchmarks.
using MixRoutine = void (*)(Voice& voice, int32_t count, int32_t* out);

// The 16 routines built for one instruction set. Every set gives the same
// numbers; "scalar" is the plain per-sample loop, the others mix a vector of
// samples at a time: "avx512", "avx2", "sse4" on x86-64, "sve2", "sve",
// "neon" on aarch64.
struct MixTarget {
  const char* name;
  const MixRoutine* routines;
};

// The table in use. At start-up it is the best set the processor runs, or
// the one the environment variable ZELVIX_SIMD names (any letter case) when
// the processor runs it; any other value leaves the choice automatic.
extern const MixRoutine* mixRoutines;

// For tests and benchmarks: the sets this build holds that the processor
// runs, best first, "scalar" last; the one a ZELVIX_SIMD value chooses
// (nullptr: none set); the one in use; and a switch to another (only while
// no sound is being made).
std::span<const MixTarget> mixTargets();
const MixTarget& mixTargetFor(const char* simdVariable);
const MixTarget& mixTargetInUse();
void useMixTarget(const MixTarget& target);

}  // namespace zv

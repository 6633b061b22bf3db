// The volume column: two tables of 16 operations indexed by the byte's high nibble.
#pragma once

#include <cstdint>

#include "replayer/engine.h"

namespace zv {

// First tick: `result` holds a copy of the byte and may be overwritten with
// the command's result (read by the multi-retrigger set-up).
using VolumeColumnFirstTick = void (*)(Engine& e, Channel& ch, uint8_t& result);
// Later ticks: called only for bytes 0x10 and above.
using VolumeColumnLaterTick = void (*)(Engine& e, Channel& ch);

extern const VolumeColumnFirstTick firstTickVolumeColumn[16];
extern const VolumeColumnLaterTick laterTickVolumeColumn[16];

}  // namespace zv

// The replayer's clock: one call of playerTick advances the song by one tick.
#pragma once

#include <cstdint>

#include "replayer/engine.h"

namespace zv {

// A row of 32 empty cells, read for every row of an absent pattern.
extern const NoteCell emptyRow[kMaxChannels];

// Advances one tick: reads a row on its first tick, runs the continuing
// effects on the others, updates every channel's output (unless
// e.channelOutputs is off), and steps rows,
// patterns and positions (delays, loops, breaks, jumps, restart wrap); a
// move to a song position sets song.positionEntered. Note starts go to
// e.noteStartSink. Runs on the engine's sound thread with its audio lock
// held, or on a render's replayer thread.
void playerTick(Engine& e);

// song.samplesPerTick = (2f + f/2) / t for the mixing frequency f; t = 0
// counts as 125. Does not store t.
void setTempo(Engine& e, uint16_t tempo);

// Moves playback; -1 keeps a coordinate. Positions at or past the song length
// become the last; rows past the pattern become its last. tickCounter = 1 so
// the next tick reads the new row. Callers on another thread hold the lock.
void setPosition(Engine& e, int32_t position, int32_t row);

// Resets the channels (under the engine's audio lock) and puts playback at position 0, row 0.
void rewindSong(Engine& e);

// Under the engine's audio lock: the audible state of all 32 channels back to silence
// and the centre, with the song's instrument 0.
void resetChannels(Engine& e);
// The same reset for a caller that already holds the audio lock, so that it
// can make further changes in the same hold.
void resetChannelsWithLockHeld(Engine& e);

}  // namespace zv

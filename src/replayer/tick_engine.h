// The replayer's clock: one call of playerTick advances the song by one tick.
#pragma once

#include <cstdint>

#include "replayer/channel.h"

namespace zv {

// A row of 32 empty cells, read for every row of an absent pattern.
extern const NoteCell emptyRow[kMaxChannels];

// Advances one tick: reads a row on its first tick, runs the continuing
// effects on the others, updates every channel's output, and steps rows,
// patterns and positions (delays, loops, breaks, jumps, restart wrap); a
// move to a song position sets song.positionEntered.
// Runs on the sound thread with the device lock held, or on the render thread.
void playerTick();

// samplesPerTick = (2f + f/2) / t for the mixing frequency f; t = 0 counts as
// 125. Does not store t.
void setTempo(uint16_t tempo);

// Moves playback; -1 keeps a coordinate. Positions at or past the song length
// become the last; rows past the pattern become its last. tickCounter = 1 so
// the next tick reads the new row. Callers on another thread hold the lock.
void setPosition(int32_t position, int32_t row);

// Resets the channels (under the audio lock) and puts playback at position 0, row 0.
void rewindSong();

// Under the audio lock: the audible state of all 32 channels back to silence
// and the centre, with the song's instrument 0.
void resetChannels();
// The same reset for a caller that already holds the audio lock, so that it
// can make further changes in the same hold.
void resetChannelsWithLockHeld();

}  // namespace zv

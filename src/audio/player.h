// The player: set-up, start/stop/pause, amp and master volume, and the
// generation of 16-bit stereo output from the replayer and the mixer, each
// on a given engine.
#pragma once

#include <cstdint>

#include "replayer/engine.h"

namespace zv {

// Before loading: installs the player's stop as e.stopOutput, closes the
// engine's device, releases its song, clears the channels, sets the
// (clamped) mixing frequency and factors, stores the other settings,
// restores the replayer defaults and rewinds. Always succeeds.
bool setupReplayer(Engine& e, int32_t frequency, int32_t bufferSize, bool interpolation, bool volumeRamping);

// Live play: resets voices and channels, allocates the MixBuffer and opens the
// device. False without a loaded song, at tempo 0, or on failure.
bool startPlayback(Engine& e);
void stopPlayback(Engine& e);
// Stops, rewinds to position 0, row 0 (no pattern delay) and starts again;
// false when the start fails (no device is then open).
bool restartPlayback(Engine& e);
void stopAndResetChannels(Engine& e);

void togglePause(Engine& e);
void pausePlayback(Engine& e);
void resumePlayback(Engine& e);

void setInterpolation(Engine& e, bool on);
void setVolumeRamping(Engine& e, bool on);
void setAmp(Engine& e, int32_t amp);               // clamped 1..32
void setMasterVolume(Engine& e, int32_t volume);   // clamped 0..256; marks every channel's volume
int32_t getAmp(const Engine& e);
int32_t getMasterVolume(const Engine& e);

// Fills `frames` stereo frames (2 x frames samples) at `out`: ticks at their
// exact frames, voice updates, mixing, 16-bit conversion with the master
// volume. Silence while paused or while a render runs, and when no MixBuffer
// exists. A request longer than the MixBuffer is made in pieces of its size.
// Allocates nothing. The engine's sound thread, with its audio lock held.
void fillOutputBuffer(Engine& e, int16_t* out, int32_t frames);

// The tick-boundary step: fade-outs stopped, ramps ended at their targets.
void finishVoiceRamps(Engine& e);

// Turns each channel's status into a VoiceUpdate for `sink` (the voices
// themselves unless a render queues them for its mixing thread), clearing
// the status.
void sendChannelUpdates(Engine& e, const VoiceUpdateSink& sink = VoiceUpdateSink{});

// song.samplesPerTick held within 1..maxTickFrames and returned: after a
// tick, so a crafted tempo can never make an empty or oversized tick.
int32_t holdTickFrames(Engine& e);

// One tick at a tick boundary: finishVoiceRamps, playerTick, holdTickFrames,
// then sendChannelUpdates. Returns the tick's length in frames, read after the tick.
int32_t runTick(Engine& e);

// The longest tick at `frequency`, (5 x f) / 2 frames (tempo 1): the capacity
// of a render's tick buffer and MixBuffer.
int32_t maxTickFrames(int32_t frequency);

// ((5 x f) / 2) / tempo, at least 1 frame; tempo 0 counts as 125.
int32_t tickFrames(int32_t frequency, uint16_t tempo);

// A MixBuffer of `frames` frames, replacing any earlier one (swapped under
// the audio lock). Sets samplesLeftInTick to 0 so the next output begins
// with a tick, and installs the player's stop as the engine's stopOutput.
// False when out of memory or frames < 1.
bool allocateMixBuffer(Engine& e, int32_t frames);
void freeMixBuffer(Engine& e);

// Adds `frames` frames of every voice of the song's channels into the
// MixBuffer from frame `offset` on.
void mixAllVoices(Engine& e, int32_t frames, int32_t offset);

// One 32-bit sum to a 16-bit sample: floor shift by 8, saturation, then the
// master volume unless it is 256.
int16_t convertSample(int32_t sum, int32_t masterVolume);

// Converts the 2 x frames sums at `sums` into `out`.
void convertSums(int16_t* out, const int32_t* sums, int32_t frames, int32_t masterVolume);

// Converts 2 x frames sums from the MixBuffer's start into `out`.
void convertMixBuffer(const Engine& e, int16_t* out, int32_t frames, int32_t masterVolume);

}  // namespace zv

// The player: set-up, start/stop/pause, amp and master volume, and the
// generation of 16-bit stereo output from the replayer and the mixer.
#pragma once

#include <cstdint>

#include "core/player_settings.h"
#include "replayer/notes.h"

namespace zv {

// Before loading: closes the device, releases the song, clears the channels,
// sets the (clamped) mixing frequency and factors, stores the other settings,
// restores the replayer defaults and rewinds. Always succeeds.
bool setupReplayer(int32_t frequency, int32_t bufferSize, bool interpolation, bool volumeRamping);

// Live play: resets voices and channels, allocates the MixBuffer and opens the
// device. False without a loaded song, at tempo 0, or on failure.
bool startPlayback();
void stopPlayback();
// Stops, rewinds to position 0, row 0 (no pattern delay) and starts again;
// false when the start fails (no device is then open).
bool restartPlayback();
void stopAndResetChannels();

void togglePause();
void pausePlayback();
void resumePlayback();

void setInterpolation(bool on);
void setVolumeRamping(bool on);
void setAmp(int32_t amp);               // clamped 1..32
void setMasterVolume(int32_t volume);   // clamped 0..256; marks every channel's volume
int32_t getAmp();
int32_t getMasterVolume();

// Fills `frames` stereo frames (2 x frames samples) at `out`: ticks at their
// exact frames, voice updates, mixing, 16-bit conversion with the master
// volume. Silence while paused or while a render runs, and when no MixBuffer
// exists. A request longer than the MixBuffer is made in pieces of its size.
// Allocates nothing.
void fillOutputBuffer(int16_t* out, int32_t frames);

// The tick-boundary step: fade-outs stopped, ramps ended at their targets.
void finishVoiceRamps();

// Turns each channel's status into a VoiceUpdate for `sink` (the voice
// itself unless a render queues it for its mixing thread), clearing the status.
void sendChannelUpdates(NoteStartSink sink = updateVoice);

// song.samplesPerTick held within 1..maxTickFrames and returned: after a
// tick, so a crafted tempo can never make an empty or oversized tick.
int32_t holdTickFrames();

// One tick at a tick boundary: finishVoiceRamps, playerTick, holdTickFrames,
// then sendChannelUpdates. Returns the tick's length in frames, read after the tick.
int32_t runTick();

// The longest tick at `frequency`, (5 x f) / 2 frames (tempo 1): the capacity
// of a render's tick buffer and MixBuffer.
int32_t maxTickFrames(int32_t frequency);

// ((5 x f) / 2) / tempo, at least 1 frame; tempo 0 counts as 125.
int32_t tickFrames(int32_t frequency, uint16_t tempo);

// A MixBuffer of `frames` frames, replacing any earlier one (swapped under
// the audio lock). Sets samplesLeftInTick to 0 so the next output begins
// with a tick. False when out of memory or frames < 1.
bool allocateMixBuffer(int32_t frames);
void freeMixBuffer();

// Adds `frames` frames of every voice of the song's channels into the
// MixBuffer from frame `offset` on.
void mixAllVoices(int32_t frames, int32_t offset);

// One 32-bit sum to a 16-bit sample: floor shift by 8, saturation, then the
// master volume unless it is 256.
int16_t convertSample(int32_t sum, int32_t masterVolume);

// Converts the 2 x frames sums at `sums` into `out`.
void convertSums(int16_t* out, const int32_t* sums, int32_t frames, int32_t masterVolume);

// Converts 2 x frames sums from the MixBuffer's start into `out`.
void convertMixBuffer(int16_t* out, int32_t frames, int32_t masterVolume);

}  // namespace zv

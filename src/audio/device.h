// The sound device, reached through SDL2's audio subsystem only.
#pragma once

#include <cstdint>

#include "core/audio_lock.h"

namespace zv {

// Initialises SDL audio and opens the default playback device for signed
// 16-bit little-endian stereo at `frequency`, `bufferSize` frames per
// callback, then starts it. Succeeds at once when a device is already open.
// While it is open, lockAudio and unlockAudio (core/audio_lock.h) take its lock.
bool openAudioDevice(int32_t frequency, int32_t bufferSize);

// Pauses and closes the device if one is open, then shuts SDL down in every
// case. After it returns no callback runs.
void closeAudioDevice();

// True while a device is open.
bool audioDeviceOpen();

// SDL's callback: fills `byteCount` bytes (byteCount / 4 frames) through
// fillOutputBuffer.
void audioCallback(void* userData, uint8_t* stream, int byteCount);

}  // namespace zv

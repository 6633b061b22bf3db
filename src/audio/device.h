// An engine's sound device, reached through SDL2's audio subsystem only. The
// library is loaded by the first open (audio/sdl_library.h), never before.
// The device's state is kept in e.device.
#pragma once

#include <cstdint>

#include "replayer/engine.h"

namespace zv {

// Loads libSDL2 if it is not loaded yet, initialises SDL audio and opens the
// default playback device for signed 16-bit little-endian stereo at
// `frequency`, `bufferSize` frames per callback, then starts it. Fails when
// the library or one of its entry points is missing, or no device opens.
// Succeeds at once when a device is already open.
// While it is open, e.audioLock takes its lock, and its callback fills
// e's output (fillOutputBuffer).
bool openAudioDevice(Engine& e, int32_t frequency, int32_t bufferSize);

// Pauses and closes the device if one is open, then shuts SDL down in every
// case where it was loaded; without the library it does nothing. After it
// returns no callback runs.
void closeAudioDevice(Engine& e);

// True while a device is open.
bool audioDeviceOpen(const Engine& e);

// True when the open device has stopped for good: the sound server went away
// or the device was removed. SDL then calls the callback at the device's pace
// and discards what it makes. False while no device is open.
bool audioDeviceLost(const Engine& e);

// SDL's callback: fills `byteCount` bytes (byteCount / 4 frames) of the
// engine `userData` through fillOutputBuffer.
void audioCallback(void* userData, uint8_t* stream, int byteCount);

}  // namespace zv

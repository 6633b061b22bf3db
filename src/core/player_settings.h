// The player's output settings and the mixer settings derived from them:
// one record per engine, read by the replayer (frequency, step factors),
// the voice layer (ramping, amp) and the mixing routines (interpolation,
// MixBuffer). Written by the player operations of audio/player.h.
#pragma once

#include <atomic>
#include <cstdint>

namespace zv {

struct PlayerSettings {
  int32_t mixingFrequency = 44100;  // 8000..96000; replaced during a render
  int32_t bufferSize = 1024;        // frames per device buffer; live MixBuffer capacity
  bool interpolation = true;
  bool volumeRamping = true;
  // Written by the main thread without the lock, read by the sound thread.
  std::atomic<int16_t> amp{4};            // 1..32
  std::atomic<int32_t> ampFactor{32};     // amp x 8
  std::atomic<int32_t> masterVolume{256};  // 0..256, live output only
  int32_t samplesLeftInTick = 0;  // frames still to make before the next tick
  int32_t rampLength = 220;       // mixingFrequency / 200: frames of a short ramp
  int32_t amigaStepFactor = 0;    // period-to-step factors (computeFrequencyFactors)
  int32_t linearStepFactor = 0;
  // The MixBuffer: interleaved stereo sums (left, right), each an output
  // sample times 256; null when absent.
  int32_t* mixBuffer = nullptr;
  int32_t mixBufferFrames = 0;
};

}  // namespace zv

// Capacities and the sample-type bits that the replayer and the mixer share.
#pragma once

#include <cstdint>

namespace zv {

constexpr int kMaxChannels = 32;
constexpr int kMaxVoices = 2 * kMaxChannels;  // two per channel: a cut fades on the spare one

// Sample type bits: the loop kind, and 16-bit data.
constexpr uint8_t kLoopKindMask = 0x03;
constexpr uint8_t kLoopForward = 0x01;
constexpr uint8_t kLoopPingPong = 0x02;
constexpr uint8_t kSample16Bit = 0x10;
constexpr uint8_t kSampleTypeMask = kLoopKindMask | kSample16Bit;

}  // namespace zv

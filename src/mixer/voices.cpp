// STUB
#include "mixer/voices.h"

namespace zv {

Voice voices[2 * kMaxChannels];
int16_t voiceOfChannel[kMaxChannels];
const int32_t panTable[257] = {};
void updateVoice(int, const VoiceUpdate&) {}
void resetVoices() {}
uint8_t countActiveVoices() { return 0; }

}  // namespace zv

// STUB
#include "audio/player.h"

namespace zv {

PlayerSettings player;

bool setupReplayer(int32_t, int32_t, bool, bool) { return true; }
bool startPlayback() { return false; }
void stopPlayback() {}
void restartPlayback() {}
void stopAndResetChannels() {}
void togglePause() {}
void pausePlayback() {}
void resumePlayback() {}
void setInterpolation(bool) {}
void setVolumeRamping(bool) {}
void setAmp(int32_t) {}
void setMasterVolume(int32_t) {}
int32_t getAmp() { return 0; }
int32_t getMasterVolume() { return 0; }
void fillOutputBuffer(int16_t*, int32_t) {}
void finishVoiceRamps() {}
void sendChannelUpdates() {}
bool allocateMixBuffer(int32_t) { return false; }
void freeMixBuffer() {}
int16_t convertSample(int32_t, int32_t) { return 0; }

}  // namespace zv

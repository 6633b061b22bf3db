// STUB
#include "audio/wav_render.h"

namespace zv {

std::atomic<bool> renderActive{false};
bool startRenderThread(const char*) { return false; }
void joinRenderThread() {}
RenderResult renderSongToWav(const char*) { return RenderResult::cannotCreateFile; }
RenderResult lastRenderResult() { return RenderResult::cannotCreateFile; }
void prepareRender(int32_t, int32_t, int32_t) {}
void finishRender() {}
bool songEndReached(uint16_t) { return true; }
int32_t renderTick(int16_t*) { return 0; }
void clearRenderFlag() {}

}  // namespace zv

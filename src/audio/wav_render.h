// Rendering the whole song to a 16-bit stereo WAV file on its own thread.
#pragma once

#include <atomic>
#include <cstdint>

namespace zv {

// Set while a render runs; cleared by the render when it ends, by a key or by
// SIGTERM. While set, live output is silent.
extern std::atomic<bool> renderActive;

// How the last render ended.
enum class RenderResult { ok, cannotCreateFile, writeError, outOfMemory };

// Starts the render thread running renderSongToWav(path); `path` must live
// until joinRenderThread. False when a render thread exists or creation fails.
bool startRenderThread(const char* path);
void joinRenderThread();

// The whole render into `path`. Returns how it ended (also kept for lastRenderResult).
RenderResult renderSongToWav(const char* path);
RenderResult lastRenderResult();

void prepareRender(int32_t frequency, int32_t amp, int32_t position);
void finishRender();

// The end test, with its side effect on the last-order flag.
bool songEndReached(uint16_t lastPosition);

// One tick of 16-bit stereo output into `out`; returns its byte count.
int32_t renderTick(int16_t* out);

void clearRenderFlag();

}  // namespace zv

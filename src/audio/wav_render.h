// Rendering the whole song to a 16-bit stereo WAV file on its own thread,
// with the replayer running ahead on a second and the file written behind on
// a third where the system gives them.
#pragma once

#include <pthread.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "replayer/engine.h"

namespace zv {

// How a render ended.
enum class RenderResult { ok, cannotCreateFile, writeError, outOfMemory };

// The 44-byte header: RIFF size (data + 36) at 4, data size at 40.
constexpr int kWavHeaderBytes = 44;

// The most data a render writes: the RIFF size field (data + 36) must fit in
// 32 bits, and the data stays a whole number of frames. A render that would
// pass it stops after the last whole tick that fits.
constexpr uint32_t kMaxWavDataBytes = (0xFFFFFFFFu - 36u) & ~3u;

// A render on a thread of its own, while the program that started it waits
// and watches its keyboard. At most one render runs on one such record.
struct RenderThread {
  pthread_t thread{};
  bool started = false;
  Engine* engine = nullptr;
  const char* path = nullptr;
  RenderResult result = RenderResult::ok;  // the render's, once joined
  std::mutex endMutex;                     // wakes waitWhileRendering when the render ends
  std::condition_variable endChanged;
};

// Starts a thread running renderSongToWav(e, path), with the caller having
// set e.renderActive; `e` and `path` must live until joinRenderThread. False
// when `thread` already runs one or creation fails.
bool startRenderThread(RenderThread& thread, Engine& e, const char* path);
// Waits for the render thread if one was started, then forgets it. Returns
// how the render ended.
RenderResult joinRenderThread(RenderThread& thread);

// Returns after `ms` milliseconds, or as soon as the thread's render is no
// longer active: at once when its renderActive is clear, else when the render ends.
void waitWhileRendering(RenderThread& thread, uint32_t ms);

// The whole render of e's song into `path`: header, one tick after another
// until the end test or a cleared e.renderActive (the caller sets it before
// the render starts; a render whose flag is already clear writes no data),
// then the sizes, and the player restored (stopped, its mixing frequency and
// factors as before). The data never exceed `maxDataBytes` (whole ticks
// only). On a write error it stops when it hands over the next block (at
// most one block later) and leaves the sizes of the whole frames in the file
// where it still can. An output that is not a regular file (a FIFO, a device)
// is opened and written without blocking, so that a cleared e.renderActive
// ends the render whatever the output waits for: a FIFO still without a
// reader gives writeError at once, and an output that has no room is given
// 250 ms from the first time it had none after the stop. The replayer and
// the mixing run on threads of their own
// where the system gives them, each on `e` only. Returns how it ended;
// leaves e.renderActive false.
RenderResult renderSongToWav(Engine& e, const char* path, uint32_t maxDataBytes = kMaxWavDataBytes);

// Render state: position set, frequency replaced (the old one kept) and
// factors recomputed, ampFactor = amp x 8, voices and channels reset, global
// volume 64, tick lengths from the loaded tempo, the end test's state
// (rows started, positionEntered) cleared.
void prepareRender(Engine& e, int32_t frequency, int32_t amp, int32_t position);
// Channels reset, the saved mixing frequency and its factors back.
void finishRender(Engine& e);

// The end test on the state the last tick left, never while a pattern delay
// repeats a row: speed 0, or a row start that the row stepping reached by
// moving to a song position since the previous row start, at a (position,
// row) that already started in this render. Every row start is recorded and
// clears positionEntered. No allocation.
bool songEndReached(Engine& e);

// One whole tick (ramps ended, playerTick, voice updates, mixing) as 16-bit
// stereo without the master volume into `out`, which holds at least
// samplesPerTick frames; returns its byte count (0 without a MixBuffer).
int32_t renderTick(Engine& e, int16_t* out);

void clearRenderFlag(Engine& e);

}  // namespace zv

#include "audio/wav_render.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>

#include "audio/player.h"
#include "audio/tick_queue.h"
#include "audio/write_behind.h"
#include "mixer/voices.h"
#include "replayer/notes.h"
#include "replayer/pitch.h"
#include "replayer/tick_engine.h"

namespace zv {

namespace {

// Ticks are gathered behind one another and written in blocks of about this
// many frames (256 KiB of sums, 128 KiB in the file), not one write per tick.
constexpr int32_t kWriteBatchFrames = 32768;

// Records a row start in the render's table; true when this row had started
// before: a row started again after a move to a song position means the
// song starts over. Rows outside the table are neither recorded nor found.
bool recordRowStart(RenderState& render, int position, int row) {
  if (position < 0 || row < 0 || row >= RenderState::kTrackedRows) return false;
  const uint32_t bit = static_cast<uint32_t>(position & (RenderState::kTrackedPositions - 1)) * RenderState::kTrackedRows +
                       static_cast<uint32_t>(row);
  uint8_t& byte = render.rowsStarted[bit >> 3];
  const auto mask = static_cast<uint8_t>(1u << (bit & 7));
  const bool seen = (byte & mask) != 0;
  byte = static_cast<uint8_t>(byte | mask);
  return seen;
}

void* renderThreadEntry(void* thread) {
  RenderThread& t = *static_cast<RenderThread*>(thread);
  t.result = renderSongToWav(*t.engine, t.path);
  { std::lock_guard lock(t.endMutex); }  // a waiter is then asleep or sees the flag
  t.endChanged.notify_all();
  return nullptr;
}

void putLe16(uint8_t* at, uint16_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
}

void putLe32(uint8_t* at, uint32_t v) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The header with both size fields still zero.
void buildHeader(uint8_t* h, int32_t frequency) {
  std::memset(h, 0, kWavHeaderBytes);
  std::memcpy(h + 0, "RIFF", 4);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  putLe32(h + 16, 16);
  putLe16(h + 20, 1);  // PCM
  putLe16(h + 22, 2);  // stereo
  putLe32(h + 24, static_cast<uint32_t>(frequency));
  putLe32(h + 28, static_cast<uint32_t>(frequency) * 4);
  putLe16(h + 32, 4);   // bytes per frame
  putLe16(h + 34, 16);  // bits per sample
  std::memcpy(h + 36, "data", 4);
}

// An output that is not a regular file (a FIFO, a device) is opened and
// written without blocking, so that a stop can end a render whose output
// takes no data: a FIFO without a reader is opened again every
// kReaderWaitMs, and a write that finds no room waits up to kRoomWaitMs at a
// time for it. Once the stop is seen, the output has kStopGraceMs more to
// take what is still queued.
constexpr int kReaderWaitMs = 10;
constexpr int kRoomWaitMs = 50;
constexpr int kStopGraceMs = 250;

// The WAV file being written. The stream is unbuffered, so `dataBytes`
// counts what the system took, also when a write fails halfway.
struct WavOutput {
  enum class Opened { yes, cannotCreate, stopped };

  FILE* file = nullptr;
  bool regular = false;  // a regular file, which can be cut to length
  uint32_t dataBytes = 0;
  bool failed = false;
  int16_t* samples = nullptr;  // a block's 16-bit samples, made by the writer
  // Cleared when the render is to stop; an output that is not a regular file
  // is then given up where it takes no data.
  const std::atomic<bool>* active = nullptr;
  std::chrono::steady_clock::time_point stopSeen{};
  bool stopWasSeen = false;

  explicit WavOutput(const std::atomic<bool>& activeFlag) : active(&activeFlag) {}
  WavOutput(const WavOutput&) = delete;
  WavOutput& operator=(const WavOutput&) = delete;
  ~WavOutput() { std::free(samples); }

  // True when the system took all `count` bytes; a write that fails marks
  // the output failed.
  bool write(const void* bytes, size_t count, bool isData) {
    const size_t done = regular ? std::fwrite(bytes, 1, count, file) : writeWhenTaken(bytes, count);
    if (isData) dataBytes += static_cast<uint32_t>(done);
    if (done != count) failed = true;
    return done == count;
  }

  // Opens `path` for writing, unbuffered. An existing file is written over
  // in place rather than emptied first: emptying a long render's file costs
  // the system milliseconds before the first byte can be written, and its
  // pages are then made anew. writeSizes cuts the file to the new length.
  // An existing file that is not regular is opened without blocking; a FIFO
  // is waited for until it has a reader (`stopped` when the stop comes first).
  Opened open(const char* path) {
    struct stat existing;
    const bool special = stat(path, &existing) == 0 && !S_ISREG(existing.st_mode);
    const int fd = special ? openSpecial(path, S_ISFIFO(existing.st_mode))
                           : ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) return fd == kStoppedWaiting ? Opened::stopped : Opened::cannotCreate;
    struct stat status;
    regular = fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    file = fdopen(fd, "wb");
    if (file == nullptr) {
      ::close(fd);
      return Opened::cannotCreate;
    }
    std::setvbuf(file, nullptr, _IONBF, 0);
    return Opened::yes;
  }

  // After the render: the sizes of the data in the file, which is cut to
  // them (it held a longer render before, or a failed write left part of a
  // frame, which is cut back to whole frames).
  bool writeSizes() {
    if (failed) dataBytes &= ~3u;
    const bool cut = !regular || ftruncate(fileno(file), static_cast<off_t>(kWavHeaderBytes) + dataBytes) == 0;
    const bool ok = writeWord(4, dataBytes + 36) && writeWord(40, dataBytes);
    return std::fflush(file) == 0 && ok && cut;
  }

 private:
  static constexpr int kStoppedWaiting = -2;

  bool writeWord(long offset, uint32_t value) {
    uint8_t bytes[4];
    putLe32(bytes, value);
    return std::fseek(file, offset, SEEK_SET) == 0 && write(bytes, 4, false);
  }

  // The descriptor of an existing file that is not regular, opened without
  // blocking; a FIFO without a reader is tried again until it has one or the
  // stop is asked (kStoppedWaiting). -1 when it cannot be opened.
  int openSpecial(const char* path, bool fifo) {
    for (;;) {
      const int fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0666);
      if (fd >= 0 || errno != ENXIO || !fifo) return fd;
      if (!*active) return kStoppedWaiting;
      std::this_thread::sleep_for(std::chrono::milliseconds(kReaderWaitMs));
    }
  }

  // Writes `count` bytes to a non-blocking output, waiting for room while
  // the render is active and for kStopGraceMs after its stop. Returns the
  // count the system took.
  size_t writeWhenTaken(const void* bytes, size_t count) {
    const int fd = fileno(file);
    size_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd, static_cast<const uint8_t*>(bytes) + done, count - done);
      if (n > 0) {
        done += static_cast<size_t>(n);
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        if (!waitForRoom(fd)) break;
      } else {
        break;  // a write error, or a device that takes nothing without an error
      }
    }
    return done;
  }

  // Waits up to kRoomWaitMs for room in the output; false once the stop was
  // seen kStopGraceMs ago or more.
  bool waitForRoom(int fd) {
    if (!*active) {
      const auto now = std::chrono::steady_clock::now();
      if (!stopWasSeen) {
        stopWasSeen = true;
        stopSeen = now;
      }
      if (now - stopSeen >= std::chrono::milliseconds(kStopGraceMs)) return false;
    }
    pollfd request{fd, POLLOUT, 0};
    poll(&request, 1, kRoomWaitMs);
    return true;
  }
};

RenderResult endRender(Engine& e, RenderResult result) {
  e.renderActive = false;
  return result;
}

// A block of 32-bit sums, two a frame: converted to 16-bit samples and
// written. On the writer's thread, so the mixing does not pay for the conversion.
bool writeWavData(void* context, const void* block, size_t bytes) {
  WavOutput& wav = *static_cast<WavOutput*>(context);
  const auto frames = static_cast<int32_t>(bytes / (2 * sizeof(int32_t)));
  convertSums(wav.samples, static_cast<const int32_t*>(block), frames, 256);
  return wav.write(wav.samples, static_cast<size_t>(frames) * 4, true);
}

// The 16-bit frames of one tick whose voice updates were made: mixed and
// converted into `out`. Returns its byte count.
int32_t mixTick(Engine& e, int16_t* out, int32_t frames) {
  std::memset(e.player.mixBuffer, 0, static_cast<size_t>(frames) * 2 * sizeof(int32_t));
  mixAllVoices(e, frames, 0);
  convertMixBuffer(e, out, frames, 256);
  return frames * 4;
}

// One tick whose voice updates were made, mixed straight into `sums` (room
// for the longest tick, all zero: the writer clears its blocks once written,
// which keeps the clearing off this thread): the MixBuffer is `sums` for the tick. Only the render
// thread mixes while a render runs (the device is closed), so no lock is taken.
void mixTickInto(Engine& e, int32_t* sums, int32_t frames) {
  int32_t* const own = e.player.mixBuffer;
  e.player.mixBuffer = sums;
  mixAllVoices(e, frames, 0);
  e.player.mixBuffer = own;
}

// Ticks' sums gathered behind one another into the writer's blocks.
struct TickBatches {
  WriteBehind& writer;
  int32_t frames = 0;  // made but not yet handed to the writer
  bool failed = false;

  int32_t* next() { return static_cast<int32_t*>(writer.buffer()) + 2 * frames; }
  // After a tick of `count` frames was made at next(); false once a write failed.
  bool add(int32_t count) {
    frames += count;
    if (frames >= kWriteBatchFrames) flush();
    return !failed;
  }
  void flush() {
    if (frames > 0 && !failed) failed = !writer.submit(static_cast<size_t>(frames) * 2 * sizeof(int32_t));
    frames = 0;
  }
};

// The render's ticks on one thread, one after another, until an end test,
// a cleared renderActive, the data bound or a write error.
void renderTicksInOneThread(Engine& e, TickBatches& batches, uint32_t maxDataBytes) {
  uint32_t total = 0;  // bytes of whole ticks made
  while (!songEndReached(e) && e.renderActive) {
    const int32_t frames = std::min(runTick(e), e.player.mixBufferFrames);
    if (frames <= 0) break;  // cannot happen with a MixBuffer; never spin without output
    mixTickInto(e, batches.next(), frames);
    const auto bytes = static_cast<uint32_t>(frames) * 4;
    if (static_cast<uint64_t>(total) + bytes > maxDataBytes) break;
    total += bytes;
    if (!batches.add(frames)) break;
  }
}

// With two threads the replayer runs ahead of the mixing: its thread plays
// the ticks and queues their voice updates, the render thread applies them
// and mixes. The replayer never reads a voice, so the ticks are the same.
struct ReplayerRun {
  ReplayerRun(Engine& e, uint32_t maxData) : engine(e), maxDataBytes(maxData) {}

  Engine& engine;
  uint32_t maxDataBytes;
  TickRecord* recordFilled = nullptr;  // replayer thread only
  TickQueue queue;
};

// Copies the update one field at a time, each read as wide as it is
// written: the caller has just written some of its fields, and a wider read
// across those writes (what a plain copy compiles to) waits for them to
// reach the cache, which took most of the replayer thread's time in queueUpdate.
void copyByField(VoiceUpdate& to, const VoiceUpdate& from) {
  static_assert(sizeof(VoiceUpdate) == 40, "a field added to VoiceUpdate is to be copied here");
  const volatile VoiceUpdate& f = from;
  to.sampleData = f.sampleData;
  to.flags = f.flags;
  to.sampleType = f.sampleType;
  to.volume = f.volume;
  to.panning = f.panning;
  to.step = f.step;
  to.sampleLength = f.sampleLength;
  to.loopStart = f.loopStart;
  to.loopLength = f.loopLength;
  to.startPosition = f.startPosition;
  to.tickFrames = f.tickFrames;
}

// The replayer thread's sink for voice updates (context: the ReplayerRun):
// into the tick's record, the next one when it is full.
void queueUpdate(void* context, int channelIndex, const VoiceUpdate& update) {
  ReplayerRun& r = *static_cast<ReplayerRun*>(context);
  TickRecord*& filled = r.recordFilled;
  if (filled == nullptr) return;  // stopped
  if (filled->count == TickRecord::kCapacity) {
    filled->frames = 0;
    r.queue.publish();
    filled = r.queue.claim();
    if (filled == nullptr) return;
    filled->startsTick = false;
    filled->count = 0;
  }
  QueuedUpdate& queued = filled->updates[filled->count++];
  queued.channel = channelIndex;
  copyByField(queued.update, update);
}

void* replayerThreadEntry(void* run) {
  ReplayerRun& r = *static_cast<ReplayerRun*>(run);
  Engine& e = r.engine;
  const VoiceUpdateSink sink{queueUpdate, &r};
  uint32_t total = 0;
  while (!songEndReached(e) && e.renderActive) {
    r.recordFilled = r.queue.claim();
    if (r.recordFilled == nullptr) break;
    r.recordFilled->startsTick = true;
    r.recordFilled->count = 0;
    playerTick(e);
    const int32_t frames = holdTickFrames(e);
    sendChannelUpdates(e, sink);
    if (r.recordFilled == nullptr) break;
    const auto bytes = static_cast<uint32_t>(frames) * 4;
    if (static_cast<uint64_t>(total) + bytes > r.maxDataBytes) break;
    total += bytes;
    r.recordFilled->frames = frames;
    r.queue.publish();
  }
  r.recordFilled = nullptr;
  r.queue.finish();
  return nullptr;
}

// The render thread's part: voice updates applied and ticks mixed in the
// replayer's order until its ticks end, renderActive is cleared or a write fails.
void mixQueuedTicks(Engine& e, TickQueue& queue, TickBatches& batches) {
  while (const TickRecord* record = queue.next()) {
    if (record->startsTick) finishVoiceRamps(e);
    for (int32_t i = 0; i < record->count; ++i) {
      updateVoice(e.mixer, e.player, record->updates[i].channel, record->updates[i].update);
    }
    const int32_t frames = std::min(record->frames, e.player.mixBufferFrames);
    queue.release();
    if (frames == 0) continue;
    if (!e.renderActive) break;
    mixTickInto(e, batches.next(), frames);
    if (!batches.add(frames)) break;
  }
  queue.stop();
}

void renderTicks(Engine& e, TickBatches& batches, uint32_t maxDataBytes) {
  // The queue (300 KiB) lives on the heap for the render's length.
  ReplayerRun* run = new (std::nothrow) ReplayerRun(e, maxDataBytes);
  pthread_t replayer;
  const VoiceUpdateSink previousSink = e.noteStartSink;
  if (run != nullptr) {
    e.noteStartSink = VoiceUpdateSink{queueUpdate, run};
    if (pthread_create(&replayer, nullptr, replayerThreadEntry, run) == 0) {
      mixQueuedTicks(e, run->queue, batches);
      pthread_join(replayer, nullptr);
    } else {
      delete run;
      run = nullptr;
    }
    e.noteStartSink = previousSink;
  }
  if (run == nullptr) renderTicksInOneThread(e, batches, maxDataBytes);
  delete run;
}

}  // namespace

bool startRenderThread(RenderThread& thread, Engine& e, const char* path) {
  if (thread.started) return false;
  thread.engine = &e;
  thread.path = path;
  thread.result = RenderResult::ok;
  if (pthread_create(&thread.thread, nullptr, renderThreadEntry, &thread) != 0) return false;
  thread.started = true;
  return true;
}

RenderResult joinRenderThread(RenderThread& thread) {
  if (!thread.started) return thread.result;
  pthread_join(thread.thread, nullptr);
  thread.started = false;
  return thread.result;
}

void waitWhileRendering(RenderThread& thread, uint32_t ms) {
  if (thread.engine == nullptr) return;
  const Engine& e = *thread.engine;
  std::unique_lock lock(thread.endMutex);
  thread.endChanged.wait_for(lock, std::chrono::milliseconds(ms), [&e] { return !e.renderActive; });
}

void clearRenderFlag(Engine& e) { e.renderActive = false; }

RenderResult renderSongToWav(Engine& e, const char* path, uint32_t maxDataBytes) {
  WavOutput wav(e.renderActive);
  switch (wav.open(path)) {
    case WavOutput::Opened::yes: break;
    case WavOutput::Opened::cannotCreate: return endRender(e, RenderResult::cannotCreateFile);
    // Stopped while a FIFO waited for its reader: nothing could be written.
    case WavOutput::Opened::stopped: return endRender(e, RenderResult::writeError);
  }

  const int32_t frequency = e.player.mixingFrequency;
  const int32_t amp = e.player.amp;
  const int32_t tickCapacity = maxTickFrames(frequency);
  // Room for a batch of ticks with the longest possible tick behind it.
  const size_t bufferFrames = static_cast<size_t>(tickCapacity) + kWriteBatchFrames;
  WriteBehind writer;
  wav.samples = static_cast<int16_t*>(std::malloc(bufferFrames * 2 * sizeof(int16_t)));
  if (wav.samples == nullptr || !writer.start(writeWavData, &wav, bufferFrames * 2 * sizeof(int32_t))) {
    std::fclose(wav.file);
    return endRender(e, RenderResult::outOfMemory);
  }

  uint8_t header[kWavHeaderBytes];
  buildHeader(header, frequency);
  const bool headerWritten = wav.write(header, sizeof header, false);
  stopPlayback(e);
  if (!headerWritten || !allocateMixBuffer(e, tickCapacity)) {
    // Nothing to mix into: the file is left a valid WAV file without data.
    if (headerWritten) wav.writeSizes();
    writer.finish();
    std::fclose(wav.file);
    return endRender(e, headerWritten ? RenderResult::outOfMemory : RenderResult::writeError);
  }

  prepareRender(e, frequency, amp, 0);
  // renderActive is not set again here: the caller set it before the render
  // began, and a key or SIGTERM that cleared it since must not be lost.
  TickBatches batches{writer};
  renderTicks(e, batches, maxDataBytes & ~3u);
  batches.flush();
  const bool written = writer.finish();

  e.renderActive = false;
  freeMixBuffer(e);
  const bool sizesWritten = wav.writeSizes();
  finishRender(e);
  stopPlayback(e);
  const bool closed = std::fclose(wav.file) == 0;
  const bool ok = written && !wav.failed && sizesWritten && closed;
  return endRender(e, ok ? RenderResult::ok : RenderResult::writeError);
}

void prepareRender(Engine& e, int32_t frequency, int32_t amp, int32_t position) {
  setPosition(e, position, 0);
  e.render.savedFrequency = e.player.mixingFrequency;
  e.player.mixingFrequency = frequency;
  computeFrequencyFactors(e);
  e.player.ampFactor = amp * 8;
  resetVoices(e.mixer, e.audioLock);
  resetChannels(e);
  e.song.globalVolume = 64;
  e.song.samplesPerTick = tickFrames(frequency, e.song.tempo);
  e.player.rampLength = std::max<int32_t>(1, frequency / 200);
  std::memset(e.render.rowsStarted, 0, sizeof e.render.rowsStarted);
  e.song.positionEntered = 0;
}

void finishRender(Engine& e) {
  resetChannels(e);
  e.player.mixingFrequency = e.render.savedFrequency;
  computeFrequencyFactors(e);
}

bool songEndReached(Engine& e) {
  Song& song = e.song;
  if (song.patternDelayCounter != 0) return false;  // a row repeated by a pattern delay
  // A row start reached by a move to a song position (the next entry, the
  // wrap to the restart position, a jump or a break), at a (position, row)
  // that already started in this render, is where the song starts over.
  // Pattern loops stay in their position and never end it.
  bool repeated = false;
  if (song.tickCounter == 1) {
    const bool moved = song.positionEntered != 0;
    song.positionEntered = 0;
    repeated = recordRowStart(e.render, song.songPosition, song.row) && moved;
  }
  return song.speed == 0 || repeated;
}

int32_t renderTick(Engine& e, int16_t* out) {
  if (e.player.mixBuffer == nullptr) return 0;
  return mixTick(e, out, std::min(runTick(e), e.player.mixBufferFrames));
}

}  // namespace zv

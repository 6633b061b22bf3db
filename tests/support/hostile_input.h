// Untrusted bytes through the loader and the whole render path: what the
// fuzz targets run, and what their regression tests replay. Each run starts
// from a clean player, so that a run depends on its input alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "replayer/engine.h"

namespace zv::test {

// How a run renders the loaded song.
enum class RenderPath : uint8_t {
  ticks,    // prepareRender, then songEndReached and renderTick as the renderer loops
  live,     // fillOutputBuffer in pieces of varying size, as the device callback calls it
  wavFile,  // renderSongToWav into /dev/null with a data limit
};

// Output settings for a run; the raw values go to the player's own setters,
// which clamp them.
struct RenderOptions {
  int32_t frequency = 44100;
  int32_t amp = 4;
  int32_t masterVolume = 256;
  int32_t bufferSize = 1024;  // live path: MixBuffer frames (1..4096)
  bool interpolation = true;
  bool volumeRamping = true;
  bool vectorMixing = true;  // the program's instruction set (see mixTargetFor), else the plain loop
  // Live path: every keyEvery-th buffer is followed by a key of live play
  // ("+", "-", Space in turn, as the status loop hands them over); 0 never.
  int32_t keyEvery = 0;
  RenderPath path = RenderPath::ticks;
};

// The options an input selects with its last kRenderOptionBytes bytes.
constexpr size_t kRenderOptionBytes = 8;
RenderOptions renderOptionsFrom(const uint8_t* bytes);

// What one run may render: at most `ticks` ticks and about `frames` frames
// (the live path stops at the first piece past it). With `framesPerTick`
// above 0 the ticks path mixes only that many frames of each tick: every
// tick and voice update still runs, at a fraction of the mixing work.
struct RenderBudget {
  int32_t ticks = 2000;
  int64_t frames = 100000;
  int32_t framesPerTick = 0;
};

// The heap blocks of e's song (patterns, instruments, sample data) in bytes.
uint64_t songHeapBytes(Engine& e);

// The most heap a song loaded from `fileSize` bytes may hold: the file's own
// bytes, the fixed-size blocks, and the allowances the loader grants for
// data a truncated file does not supply.
uint64_t songHeapBound(uint64_t fileSize);

// Sets e's player up with `options`, loads the bytes (from an exactly sized
// copy), checks the loaded song's invariants and heap bound, renders within
// `budget` and releases the song. Returns "" or what went wrong.
std::string loadAndRender(Engine& e, const uint8_t* data, size_t size, const RenderOptions& options,
                          const RenderBudget& budget);

// The fuzz targets' bodies.
// Bytes as a module file: load, check, release.
std::string runLoadInput(Engine& e, const uint8_t* data, size_t size);
// The last kRenderOptionBytes bytes choose the options, the rest is the module.
std::string runRenderInput(Engine& e, const uint8_t* data, size_t size);
// The bytes drive the module writer: a valid XM or MOD (with hostile fields)
// is built, then loaded and rendered with options from the same bytes.
std::string runStructuredInput(Engine& e, const uint8_t* data, size_t size);

// The module runStructuredInput builds from `data`, and its options.
std::vector<uint8_t> structuredModule(const uint8_t* data, size_t size, RenderOptions& options);

}  // namespace zv::test

// Helpers shared by the audio tests: a clean player, temporary folders and
// a reader for the WAV files the renderer writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/module_writer.h"
#include "support/test_engine.h"

namespace zv::test {

// setupReplayer at `frequency` with 1024-frame buffers, master volume 256,
// amp 4, no MixBuffer, nothing paused, no render flag, no pending jump.
void resetPlayer(int32_t frequency = 44100, bool interpolation = true, bool volumeRamping = true);

// A folder under the system's temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct WavInfo {
  bool wellFormed = false;  // the fixed header fields are right and the sizes match the file
  uint32_t riffSize = 0;
  uint32_t dataSize = 0;
  uint32_t sampleRate = 0;
  uint32_t byteRate = 0;
  std::vector<uint8_t> data;  // the bytes behind the header
};

WavInfo parseWav(const std::vector<uint8_t>& file);

// The same checks from the 44 header bytes and the count of bytes behind
// them; `data` stays empty.
WavInfo parseWavHeader(const uint8_t* header, uint64_t dataBytesInFile);

// What renderSongToWav should write for the loaded song: the same loop made
// here from prepareRender, songEndReached and renderTick, with every tick's
// byte count. Leaves the player as the renderer does.
struct ManualRender {
  std::vector<uint8_t> data;  // kept only when asked for
  std::vector<int32_t> tickBytes;
  uint64_t totalBytes = 0;
  uint64_t checksum = 0;  // checksumOf(data)
  bool songEnded = false;  // stopped by the end test, not by maxDataBytes
};
ManualRender renderByTicks(uint32_t maxDataBytes, bool keepData = true);

// FNV-1a over the bytes, to compare long renders without keeping them.
uint64_t checksumOf(const uint8_t* bytes, size_t count, uint64_t hash = 14695981039346656037ull);

// A small song: `rows` rows on `channels` channels in one pattern played by
// `orders` order entries, a looped square wave on channel 0 from row 0.
XmModulePlan toneSong(int rows = 8, int channels = 2, int orders = 1);

}  // namespace zv::test

// Helpers shared by the audio tests: a clean player, temporary folders and
// a reader for the WAV files the renderer writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/module_writer.h"

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

// What renderSongToWav should write for the loaded song: the same loop made
// here from prepareRender, songEndReached and renderTick, with every tick's
// byte count. Leaves the player as the renderer does.
struct ManualRender {
  std::vector<uint8_t> data;
  std::vector<int32_t> tickBytes;
};
ManualRender renderByTicks(uint32_t maxDataBytes);

// A small song: `rows` rows on `channels` channels in one pattern played by
// `orders` order entries, a looped square wave on channel 0 from row 0.
XmModuleSpec toneSong(int rows = 8, int channels = 2, int orders = 1);

}  // namespace zv::test

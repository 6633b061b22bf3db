#include "audio/audio_support.h"

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "audio/player.h"
#include "audio/wav_render.h"
#include "replayer/song.h"
#include "support/clean_player.h"

namespace zv::test {

void resetPlayer(int32_t frequency, bool interpolation, bool volumeRamping) {
  cleanPlayer(engine, frequency, 1024, interpolation, volumeRamping);
  setAmp(engine, 4);
  setMasterVolume(engine, 256);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "zelvix-audio-XXXXXX").string();
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) != nullptr) path_ = buffer.data();
}

TempDir::~TempDir() {
  if (path_.empty()) return;
  std::error_code ignored;
  // Read-only subfolders made by a test must become writable to be removed.
  for (auto& entry : std::filesystem::recursive_directory_iterator(path_, ignored)) {
    if (entry.is_directory(ignored) && !entry.is_symlink(ignored)) {
      std::filesystem::permissions(entry.path(), std::filesystem::perms::owner_all,
                                   std::filesystem::perm_options::add, ignored);
    }
  }
  std::filesystem::remove_all(path_, ignored);
}

namespace {

uint32_t le32(const uint8_t* b) {
  return uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
}
uint16_t le16(const uint8_t* b) { return static_cast<uint16_t>(b[0] | b[1] << 8); }
bool tag(const uint8_t* b, const char* text) { return std::memcmp(b, text, 4) == 0; }

}  // namespace

WavInfo parseWavHeader(const uint8_t* h, uint64_t dataBytesInFile) {
  WavInfo info;
  info.riffSize = le32(h + 4);
  info.sampleRate = le32(h + 24);
  info.byteRate = le32(h + 28);
  info.dataSize = le32(h + 40);
  info.wellFormed = tag(h, "RIFF") && tag(h + 8, "WAVE") && tag(h + 12, "fmt ") && le32(h + 16) == 16 &&
                    le16(h + 20) == 1 && le16(h + 22) == 2 && le16(h + 32) == 4 && le16(h + 34) == 16 &&
                    tag(h + 36, "data") && info.byteRate == info.sampleRate * 4 &&
                    info.dataSize == dataBytesInFile && info.riffSize == info.dataSize + 36 &&
                    info.dataSize % 4 == 0;
  return info;
}

WavInfo parseWav(const std::vector<uint8_t>& file) {
  if (file.size() < 44) return WavInfo{};
  WavInfo info = parseWavHeader(file.data(), file.size() - 44);
  info.data.assign(file.begin() + 44, file.end());
  return info;
}

uint64_t checksumOf(const uint8_t* bytes, size_t count, uint64_t hash) {
  for (size_t i = 0; i < count; ++i) hash = (hash ^ bytes[i]) * 1099511628211ull;
  return hash;
}

ManualRender renderByTicks(uint32_t maxDataBytes, bool keepData) {
  ManualRender result;
  result.checksum = checksumOf(nullptr, 0);
  const int32_t frequency = player.mixingFrequency;
  std::vector<int16_t> tick(static_cast<size_t>(maxTickFrames(frequency)) * 2);
  stopPlayback(engine);
  allocateMixBuffer(engine, maxTickFrames(frequency));
  prepareRender(engine, frequency, player.amp, 0);
  size_t total = 0;
  while (!(result.songEnded = songEndReached(engine))) {
    const int32_t bytes = renderTick(engine, tick.data());
    if (total + static_cast<size_t>(bytes) > maxDataBytes) break;
    const auto* raw = reinterpret_cast<const uint8_t*>(tick.data());
    if (keepData) result.data.insert(result.data.end(), raw, raw + bytes);
    result.checksum = checksumOf(raw, static_cast<size_t>(bytes), result.checksum);
    result.tickBytes.push_back(bytes);
    total += static_cast<size_t>(bytes);
  }
  result.totalBytes = total;
  freeMixBuffer(engine);
  finishRender(engine);
  stopPlayback(engine);
  return result;
}

XmModulePlan toneSong(int rows, int channels, int orders) {
  XmModulePlan plan;
  plan.channelCount = static_cast<uint16_t>(channels);
  plan.songLength = static_cast<uint16_t>(orders);
  XmSamplePlan sample = squareSample(64);
  sample.loopKind = 1;
  sample.loopStart = 0;
  sample.loopLength = 64;
  plan.instruments.push_back(instrumentWith(sample));
  plan.patterns.push_back(XmPatternPlan{});
  plan.patterns[0].rows = static_cast<uint16_t>(rows);
  plan.patterns[0].cells.resize(static_cast<size_t>(rows * channels));
  NoteCell& first = plan.cell(0, 0, 0);
  first.note = 49;
  first.instrument = 1;
  return plan;
}

}  // namespace zv::test

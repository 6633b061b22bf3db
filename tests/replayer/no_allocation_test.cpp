// The tick path allocates nothing: whole songs are played tick by tick
// without one operator new.
#include <gtest/gtest.h>
#include <zelvix/zelvix.h>

#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "allocation_counter.h"
#include "audio/player.h"
#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "mixer/voices.h"
#include "replayer/tick_engine.h"
#include "support/module_writer.h"
#include "support/test_engine.h"

namespace zv::test {
namespace {

// Plays `ticks` ticks as the generator does (without mixing) and returns the
// allocations made meanwhile.
long allocationsWhilePlaying(int ticks) {
  resetVoices(engine.mixer, engine.audioLock);
  resetChannels(engine);
  song.globalVolume = 64;
  const long before = allocationCount();
  for (int i = 0; i < ticks; i++) {
    finishVoiceRamps(engine);
    playerTick(engine);
    sendChannelUpdates(engine);
  }
  return allocationCount() - before;
}

TEST(NoAllocation, CounterSeesAllocations) {
  const long before = allocationCount();
  auto probe = std::make_unique<int>(1);
  std::unique_ptr<int> quiet(new (std::nothrow) int(2));
  EXPECT_EQ(allocationCount() - before, 2);
}

TEST(NoAllocation, GeneratedSongWithEveryCommand) {
  XmModulePlan plan;
  plan.channelCount = 8;
  plan.speed = 3;
  XmInstrumentPlan ins = instrumentWith(squareSample(512));
  ins.volumeEnvelope.points = {{0, 64}, {8, 20}, {16, 50}};
  ins.volumeEnvelope.flags = kEnvelopeOn | kEnvelopeLoop | kEnvelopeSustain;
  ins.volumeEnvelope.sustainPoint = 2;
  ins.volumeEnvelope.loopStartPoint = 1;
  ins.volumeEnvelope.loopEndPoint = 2;
  ins.panningEnvelope.points = {{0, 0}, {10, 64}};
  ins.panningEnvelope.flags = kEnvelopeOn;
  ins.vibratoDepth = 6;
  ins.vibratoRate = 20;
  ins.vibratoSweep = 4;
  ins.fadeout = 500;
  plan.instruments.push_back(ins);
  for (int r = 0; r < 64; r++) {
    for (int c = 0; c < 8; c++) {
      const uint8_t effect = static_cast<uint8_t>((r * 8 + c) % 36);
      uint8_t param = static_cast<uint8_t>(r * 37 + c * 11);
      if (effect == 11 || effect == 13 || effect == 15) param = 0x20 + r;  // keep the song going
      if (effect == 14 && (param >> 4) == 0xE) param = 0xE1;
      const uint8_t note = static_cast<uint8_t>(r % 3 == 0 ? (r + c) % 96 + 1 : (r % 7 == 0 ? 97 : 0));
      plan.cell(0, r, c) = {note, static_cast<uint8_t>(c % 2), static_cast<uint8_t>(r * 4 + c), effect, param};
    }
  }
  ASSERT_TRUE(loadBytes(engine, writeXm(plan)));
  EXPECT_EQ(allocationsWhilePlaying(64 * 3 * 4), 0);
  freeSong(engine);
}

// The library's render (ticks, voice updates, mixing, conversion) in calls
// of every size, in both end modes.
TEST(NoAllocation, LibraryRender) {
  const std::vector<uint8_t> demo = readFile(std::string(ZELVIX_SOURCE_DIR) + "/examples/demo.xm");
  zv_module* m = zv_load_memory(demo.data(), demo.size(), nullptr, nullptr);
  ASSERT_NE(m, nullptr);
  std::vector<int16_t> out(2 * 5000);
  const long before = allocationCount();
  for (size_t frames = 1; frames < 5000; frames = frames * 3 + 1) zv_render(m, out.data(), frames);
  zv_set_end_mode(m, ZV_END_LOOP);
  zv_set_master_volume(m, 100);
  zv_jump_to_order(m, 3);
  for (int call = 0; call < 200; ++call) zv_render(m, out.data(), 4999);
  EXPECT_EQ(allocationCount() - before, 0);
  zv_free(m);
}

TEST(NoAllocation, CorpusModules) {
  const std::filesystem::path corpus(ZELVIX_CORPUS_DIR);
  if (!std::filesystem::is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  int played = 0;
  for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
    const std::string ext = entry.path().extension().string();
    if (ext != ".xm" && ext != ".mod") continue;
    if (played++ % 4 != 0) continue;  // a sample of them keeps the run short
    ASSERT_TRUE(loadModuleFile(engine, entry.path().c_str())) << entry.path();
    EXPECT_EQ(allocationsWhilePlaying(3000), 0) << entry.path();
    freeSong(engine);
  }
  if (played == 0) GTEST_SKIP() << "no modules in " << corpus;
}

}  // namespace
}  // namespace zv::test

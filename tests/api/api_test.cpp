// The C interface: its stream against the program's renders, the song's
// length, the end modes, the information it gives, and its answers to bad
// arguments.
#include <zelvix/zelvix.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "audio/audio_support.h"
#include "frontend/program_runner.h"
#include "loader/loader_test_support.h"
#include "support/module_writer.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ZELVIX_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define ZELVIX_SANITIZED 1
#endif
#endif

namespace zv::test {
namespace {

// One set of options, as zelvix's command line and as zv_settings.
struct OptionSet {
  const char* name;
  std::vector<std::string> args;
  zv_settings settings;
};

const OptionSet kOptionSets[] = {
    {"defaults", {}, {44100, 10, 1, 1}},
    {"plain48k", {"--no-intrp", "--no-vramp", "-f", "48000"}, {48000, 10, 0, 0}},
    {"quiet22k", {"-f", "22050", "-m", "128", "-a", "20"}, {22050, 20, 1, 1}},
};

// The data of the WAV file zelvix writes for `module` with `args`.
std::vector<uint8_t> programRender(const std::string& module, const std::vector<std::string>& args,
                                   const TempDir& dir) {
  const std::string copy = dir.file("song");
  std::filesystem::copy_file(module, copy, std::filesystem::copy_options::overwrite_existing);
  ProgramRun run;
  run.args = {copy};
  run.args.insert(run.args.end(), args.begin(), args.end());
  run.args.push_back("--render-to-wav");
  if (runToEnd(run, 600000).status != 0) return {};
  const std::vector<uint8_t> wav = readFile(copy + ".wav");
  std::filesystem::remove(copy + ".wav");
  return wav.size() >= 44 ? std::vector<uint8_t>(wav.begin() + 44, wav.end()) : std::vector<uint8_t>{};
}

// The whole stop stream in calls of `size` frames (0: sizes drawn at random).
std::vector<uint8_t> libraryRender(zv_module* m, size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> bytes;
  std::vector<int16_t> piece(2 * 4096);
  std::mt19937 random(seed);
  for (;;) {
    const size_t ask = size != 0 ? size : 1 + random() % 4096;
    const size_t got = zv_render(m, piece.data(), ask);
    EXPECT_LE(got, ask);
    const auto* b = reinterpret_cast<const uint8_t*>(piece.data());
    bytes.insert(bytes.end(), b, b + 4 * got);
    if (got < ask) break;
  }
  EXPECT_EQ(zv_render(m, piece.data(), 100), 0u);  // ended for good
  return bytes;
}

class ApiCorpus : public ::testing::TestWithParam<std::string> {};

// Every corpus module, with each option set: the stop stream in calls of 7
// and 1024 frames and of random sizes (1 frame for the first modules) is the
// program's WAV data, and the song's length is its frame count. Sanitizer
// builds take a few modules only.
TEST_P(ApiCorpus, StopStreamIsTheProgramsWavData) {
  const std::string& module = GetParam();
  const std::vector<std::string> files = corpusFiles();
  const size_t index = static_cast<size_t>(std::find(files.begin(), files.end(), module) - files.begin());
  TempDir dir;
  for (const OptionSet& options : kOptionSets) {
    SCOPED_TRACE(options.name);
    const std::vector<uint8_t> expected = programRender(module, options.args, dir);
    ASSERT_FALSE(expected.empty());
    std::vector<size_t> sizes = {7, 1024, 0};
    if (index < 3) sizes.push_back(1);
    for (size_t size : sizes) {
      zv_error error = ZV_ERROR_ARGUMENT;
      zv_module* m = zv_load_file(module.c_str(), &options.settings, &error);
      ASSERT_NE(m, nullptr) << zv_error_message(error);
      if (size == 7) {
        EXPECT_EQ(zv_duration_frames(m), expected.size() / 4);
      }
      EXPECT_TRUE(libraryRender(m, size, static_cast<uint32_t>(index)) == expected) << "calls of " << size;
      zv_free(m);
    }
  }
}

std::vector<std::string> corpusForApi() {
  std::vector<std::string> files = corpusFiles();
#ifdef ZELVIX_SANITIZED
  if (files.size() > 3) files.resize(3);
#endif
  return files;
}

std::string testName(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = std::filesystem::path(info.param).filename().string();
  for (char& c : name) {
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  }
  return name;
}

INSTANTIATE_TEST_SUITE_P(Corpus, ApiCorpus, ::testing::ValuesIn(corpusForApi()), testName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ApiCorpus);

// ---------------------------------------------------------------- small songs

// An XM of two patterns with named instruments and samples; a note on
// channel 0 of every fourth row.
XmModulePlan namedSong() {
  XmModulePlan plan = toneSong(16, 4, 2);
  plan.name = "song\x01" "name";
  plan.orderList[1] = 1;
  plan.patterns.resize(2);
  plan.patterns[1].rows = 8;
  plan.cell(1, 0, 0) = NoteCell{61, 1, 0, 0, 0};
  plan.instruments[0].name = "first";
  plan.instruments[0].samples[0].name = "square";
  plan.instruments.push_back(instrumentWith(squareSample(32)));
  plan.instruments[1].name = "second";
  plan.instruments[1].samples.push_back(squareSample(16));
  plan.instruments[1].samples[1].name = "other";
  return plan;
}

zv_module* loadBytes(const std::vector<uint8_t>& bytes, const zv_settings* settings = nullptr) {
  zv_error error = ZV_ERROR_ARGUMENT;
  zv_module* m = zv_load_memory(bytes.data(), bytes.size(), settings, &error);
  EXPECT_EQ(error, m != nullptr ? ZV_OK : error);
  return m;
}

TEST(Api, InformationOfAnXmAndAMod) {
  zv_module* xm = loadBytes(writeXm(namedSong()));
  ASSERT_NE(xm, nullptr);
  EXPECT_EQ(zv_format(xm), ZV_FORMAT_XM);
  EXPECT_EQ(zv_xm_version(xm), 0x0104);
  EXPECT_STREQ(zv_mod_signature(xm), "");
  EXPECT_STREQ(zv_name(xm), "song\x01" "name");
  EXPECT_STREQ(zv_printable_name(xm), "song.name");
  EXPECT_EQ(zv_channels(xm), 4);
  EXPECT_EQ(zv_song_length(xm), 2);
  EXPECT_EQ(zv_restart_position(xm), 0);
  EXPECT_EQ(zv_instruments(xm), 2);
  EXPECT_STREQ(zv_instrument_name(xm, 1), "first");
  EXPECT_STREQ(zv_instrument_name(xm, 2), "second");
  EXPECT_EQ(zv_instrument_name(xm, 3), nullptr);
  EXPECT_EQ(zv_instrument_name(xm, 0), nullptr);
  EXPECT_EQ(zv_samples(xm, 2), 2);
  EXPECT_STREQ(zv_sample_name(xm, 1, 0), "square");
  EXPECT_STREQ(zv_sample_name(xm, 2, 1), "other");
  EXPECT_EQ(zv_sample_name(xm, 2, 2), nullptr);
  EXPECT_EQ(zv_samples(xm, 9), 0);
  zv_free(xm);

  ModModulePlan plan;
  plan.signature = "6CHN";
  plan.channels = 6;
  plan.patterns.resize(1);
  plan.samples.resize(2);
  plan.samples[1].name = "kick";
  plan.samples[1].pcm.assign(64, 20);
  zv_module* mod = loadBytes(writeMod(plan));
  ASSERT_NE(mod, nullptr);
  EXPECT_EQ(zv_format(mod), ZV_FORMAT_MOD);
  EXPECT_EQ(zv_xm_version(mod), 0);
  EXPECT_STREQ(zv_mod_signature(mod), "6CHN");
  EXPECT_EQ(zv_channels(mod), 6);
  EXPECT_EQ(zv_instruments(mod), 31);
  EXPECT_EQ(zv_samples(mod, 1), 0);  // no data: no sample
  EXPECT_STREQ(zv_instrument_name(mod, 1), "");
  EXPECT_EQ(zv_samples(mod, 2), 1);
  EXPECT_STREQ(zv_instrument_name(mod, 2), "kick");
  EXPECT_STREQ(zv_sample_name(mod, 2, 0), "kick");
  zv_free(mod);
}

TEST(Api, LoadFailuresSayWhy) {
  const struct {
    const char* what;
    std::vector<uint8_t> bytes;
    zv_error error;
  } cases[] = {
      {"no module", std::vector<uint8_t>(4000, 0x55), ZV_ERROR_NOT_A_MODULE},
      {"too short for any", {'E', 'x'}, ZV_ERROR_NOT_A_MODULE},
      {"an XM of version 0x0105", [] {
         XmModulePlan plan = namedSong();
         plan.version = 0x0105;
         return writeXm(plan);
       }(), ZV_ERROR_DAMAGED},
  };
  for (const auto& c : cases) {
    zv_error error = ZV_OK;
    EXPECT_EQ(zv_load_memory(c.bytes.data(), c.bytes.size(), nullptr, &error), nullptr) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
  zv_error error = ZV_OK;
  EXPECT_EQ(zv_load_file("/nonexistent/song.xm", nullptr, &error), nullptr);
  EXPECT_EQ(error, ZV_ERROR_READ);
  EXPECT_EQ(zv_load_file("/", nullptr, &error), nullptr);
  EXPECT_EQ(error, ZV_ERROR_READ);
  EXPECT_EQ(zv_load_memory(nullptr, 10, nullptr, &error), nullptr);
  EXPECT_EQ(error, ZV_ERROR_ARGUMENT);
  EXPECT_EQ(zv_load_file(nullptr, nullptr, nullptr), nullptr);  // a null error is allowed
  for (int e = ZV_OK; e <= ZV_ERROR_ARGUMENT + 1; ++e) EXPECT_NE(zv_error_message(static_cast<zv_error>(e)), nullptr);
  // A C caller may pass any int as a zv_error (made here as C makes it).
  for (const int code : {-1, 99, INT32_MAX}) {
    zv_error any;
    std::memcpy(&any, &code, sizeof any);
    EXPECT_STREQ(zv_error_message(any), "Unknown error.") << code;
  }
}

TEST(Api, NullHandlesGiveErrorsOrZero) {
  int16_t out[4];
  EXPECT_EQ(zv_render(nullptr, out, 2), 0u);
  EXPECT_EQ(zv_set_end_mode(nullptr, ZV_END_LOOP), ZV_ERROR_ARGUMENT);
  EXPECT_EQ(zv_set_master_volume(nullptr, 5), ZV_ERROR_ARGUMENT);
  EXPECT_EQ(zv_jump_to_order(nullptr, 0), ZV_ERROR_ARGUMENT);
  EXPECT_EQ(zv_duration_frames(nullptr), 0u);
  for (int (*get)(const zv_module*) : {zv_order, zv_pattern, zv_row, zv_pattern_rows, zv_speed, zv_tempo,
                                       zv_active_voices, zv_channels, zv_song_length, zv_restart_position,
                                       zv_instruments}) {
    EXPECT_EQ(get(nullptr), -1);
  }
  EXPECT_EQ(zv_format(nullptr), 0);
  EXPECT_EQ(zv_xm_version(nullptr), 0);
  EXPECT_EQ(zv_samples(nullptr, 1), -1);
  for (const char* (*name)(const zv_module*) : {zv_name, zv_printable_name, zv_mod_signature}) {
    EXPECT_EQ(name(nullptr), nullptr);
  }
  EXPECT_EQ(zv_instrument_name(nullptr, 1), nullptr);
  EXPECT_EQ(zv_sample_name(nullptr, 1, 0), nullptr);
  zv_default_settings(nullptr);
  zv_free(nullptr);
  EXPECT_STREQ(zv_version(), ZV_VERSION_STRING);

  zv_module* m = loadBytes(writeXm(namedSong()));
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(zv_render(m, nullptr, 10), 0u);
  EXPECT_EQ(zv_render(m, out, 0), 0u);
  EXPECT_EQ(zv_set_end_mode(m, 7), ZV_ERROR_ARGUMENT);
  EXPECT_EQ(zv_jump_to_order(m, -1), ZV_ERROR_ARGUMENT);
  zv_free(m);
}

// Settings out of range are clamped as the command line clamps them: the
// same frames as the nearest valid ones.
TEST(Api, SettingsAreClampedAndNullMeansTheDefaults) {
  const std::vector<uint8_t> song = writeXm(namedSong());
  const auto render = [&](const zv_settings* s) {
    zv_module* m = loadBytes(song, s);
    std::vector<uint8_t> bytes = m != nullptr ? libraryRender(m, 4096) : std::vector<uint8_t>{};
    zv_free(m);
    return bytes;
  };
  zv_settings defaults;
  zv_default_settings(&defaults);
  EXPECT_EQ(defaults.frequency, 44100);
  EXPECT_EQ(defaults.amp, 10);
  EXPECT_EQ(render(nullptr), render(&defaults));
  const zv_settings low{8000, 1, 1, 1}, tooLow{-5, 0, 1, 1};
  const zv_settings high{96000, 32, 0, 0}, tooHigh{1 << 30, 99, 0, 0};
  EXPECT_EQ(render(&low), render(&tooLow));
  EXPECT_EQ(render(&high), render(&tooHigh));
}

// The loop stream is the stop stream up to its end and goes on through the
// song's wrap; the master volume scales what follows it; a jump restarts an
// order entry's pattern at row 0.
TEST(Api, EndModesMasterVolumeAndJumps) {
  const std::vector<uint8_t> song = writeXm(namedSong());
  zv_module* stop = loadBytes(song);
  zv_module* loop = loadBytes(song);
  ASSERT_TRUE(stop != nullptr && loop != nullptr);
  const std::vector<uint8_t> stopped = libraryRender(stop, 333);
  const uint64_t frames = stopped.size() / 4;
  EXPECT_EQ(zv_duration_frames(stop), frames);
  EXPECT_EQ(zv_duration_frames(loop), frames);
  EXPECT_EQ(zv_set_end_mode(loop, ZV_END_LOOP), ZV_OK);
  std::vector<int16_t> looped(2 * (frames + 5000));
  ASSERT_EQ(zv_render(loop, looped.data(), frames + 5000), frames + 5000);
  EXPECT_EQ(std::memcmp(looped.data(), stopped.data(), stopped.size()), 0);
  // Back to stop mode, the stream ends where the song starts over again.
  EXPECT_EQ(zv_set_end_mode(loop, ZV_END_STOP), ZV_OK);
  std::vector<int16_t> rest(2 * 2 * frames);
  EXPECT_LT(zv_render(loop, rest.data(), 2 * frames), 2 * frames);
  EXPECT_EQ(zv_duration_frames(loop), frames);  // still the song's length

  // Master volume: 0 silences from the next tick on; 128 halves.
  zv_module* m = loadBytes(song);
  ASSERT_NE(m, nullptr);
  std::vector<int16_t> full(2 * 4410), half(2 * 4410);
  zv_render(m, full.data(), 4410);
  zv_free(m);
  m = loadBytes(song);
  EXPECT_EQ(zv_set_master_volume(m, 128), ZV_OK);
  zv_render(m, half.data(), 4410);
  for (size_t i = 0; i < full.size(); ++i) ASSERT_EQ(half[i], static_cast<int16_t>(full[i] * 128 >> 8)) << i;
  EXPECT_EQ(zv_set_master_volume(m, -3), ZV_OK);
  std::vector<int16_t> silent(2 * 4410, 1);
  zv_render(m, silent.data(), 882);  // the rest of the tick under way
  zv_render(m, silent.data(), 4410);
  for (int16_t s : silent) ASSERT_EQ(s, 0);

  // Jumps: to order 1, past the last (the last), and the position getters.
  EXPECT_EQ(zv_jump_to_order(m, 1), ZV_OK);
  EXPECT_EQ(zv_order(m), 1);
  EXPECT_EQ(zv_pattern(m), 1);
  EXPECT_EQ(zv_row(m), 0);
  EXPECT_EQ(zv_pattern_rows(m), 8);
  EXPECT_EQ(zv_jump_to_order(m, 200), ZV_OK);
  EXPECT_EQ(zv_order(m), 1);
  EXPECT_EQ(zv_speed(m), 6);
  EXPECT_EQ(zv_tempo(m), 125);
  zv_set_master_volume(m, 256);
  zv_render(m, silent.data(), 4410);
  EXPECT_EQ(zv_active_voices(m), 1);  // the note on row 0 of pattern 1 sounds
  zv_free(stop);
  zv_free(loop);
  zv_free(m);
}

// The order entry playing is the one whose pattern plays, not the target a
// position jump keeps until its row ends; a jump to an entry drops the
// break the row being left asked for.
TEST(Api, OrderEntryPlayingAndJumpsOverPendingBreaks) {
  XmModulePlan plan = toneSong(4, 2, 4);
  plan.patterns.resize(4);
  for (int p = 0; p < 4; ++p) {
    plan.orderList[p] = static_cast<uint8_t>(p);
    plan.patterns[p].rows = 4;
    plan.cell(p, 0, 0) = NoteCell{static_cast<uint8_t>(49 + p), 1, 0, 0, 0};
  }
  plan.cell(0, 0, 1) = NoteCell{0, 0, 0, 11, 2};  // B02
  plan.cell(2, 0, 1) = NoteCell{0, 0, 0, 13, 0};  // D00
  zv_module* m = loadBytes(writeXm(plan));
  ASSERT_NE(m, nullptr);
  std::vector<int16_t> tick(2 * 882);
  zv_render(m, tick.data(), 882);  // row 0's first tick: B02 waits for the row's end
  EXPECT_EQ(zv_order(m), 0);
  for (int t = 0; t < 5; ++t) zv_render(m, tick.data(), 882);
  EXPECT_EQ(zv_order(m), 2);
  EXPECT_EQ(zv_row(m), 0);
  zv_render(m, tick.data(), 882);  // entry 2's row 0: its D00 is pending
  EXPECT_EQ(zv_jump_to_order(m, 1), ZV_OK);
  for (int t = 0; t < 6; ++t) zv_render(m, tick.data(), 882);
  EXPECT_EQ(zv_order(m), 1);  // not moved on by the break left behind
  EXPECT_EQ(zv_row(m), 1);
  zv_free(m);
}

}  // namespace
}  // namespace zv::test

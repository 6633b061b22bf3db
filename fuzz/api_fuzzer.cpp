// Arbitrary bytes through the C interface alone, as a library caller uses it.
// The last eight bytes choose the settings, the master volume and the call
// sizes (as for render_fuzzer); the rest is the module. A module that loads
// has every piece of information read and checked, is rendered a bounded
// stretch in each end mode in calls of varying size (the two streams must
// agree up to where the stopping one ends, and its length must be what
// zv_duration_frames says), and then jumped about, turned up and down and
// switched between the modes, with the counts checked after every call.
#include <zelvix/zelvix.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kOptionBytes = 8;
// Frames of each end mode's pass: 2.3 s at 44100 Hz, 12.5 s at 8000 Hz.
constexpr size_t kPassFrames = 100000;
constexpr size_t kMaxCall = 16384;

[[noreturn]] void fail(const char* what) {
  std::fprintf(stderr, "api_fuzzer: %s\n", what);
  std::abort();
}

void check(bool holds, const char* what) {
  if (!holds) fail(what);
}

// Call sizes from a seed: mostly up to a buffer's worth, some tiny, some large.
class CallSizes {
 public:
  explicit CallSizes(uint32_t seed) : state_(seed) {}
  size_t next() {
    state_ = state_ * 1664525u + 1013904223u;
    const uint32_t r = state_ >> 8;
    switch (r & 3) {
      case 0: return 1 + (r >> 2) % 64;
      case 3: return 1 + (r >> 2) % kMaxCall;
      default: return 1 + (r >> 2) % 4096;
    }
  }
  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(next()) % n; }

 private:
  uint32_t state_;
};

// A handle's stream as the contract has it: a call gives at most what was
// asked; a looping stream that has not ended gives all of it; once a call
// gives fewer, every later call gives 0 whatever the mode.
struct Stream {
  zv_module* module;
  bool looping = false;
  bool ended = false;

  size_t render(int16_t* out, size_t frames) {
    const size_t got = zv_render(module, out, frames);
    check(got <= frames, "zv_render gave more frames than asked");
    if (ended) check(got == 0, "an ended stream gave frames again");
    if (looping && !ended) check(got == frames, "a looping stream gave fewer frames than asked");
    if (got < frames) ended = true;
    return got;
  }
  void setMode(int mode) {
    const bool valid = mode == ZV_END_STOP || mode == ZV_END_LOOP;
    check(zv_set_end_mode(module, mode) == (valid ? ZV_OK : ZV_ERROR_ARGUMENT), "zv_set_end_mode's result");
    if (valid) looping = mode == ZV_END_LOOP;
  }
};

// Every call on a null handle gives its documented error value.
void checkNullHandle(const uint8_t* data) {
  int16_t frames[16];
  check(zv_render(nullptr, frames, 8) == 0, "zv_render(null)");
  check(zv_set_end_mode(nullptr, ZV_END_LOOP) == ZV_ERROR_ARGUMENT, "zv_set_end_mode(null)");
  check(zv_set_master_volume(nullptr, 1) == ZV_ERROR_ARGUMENT, "zv_set_master_volume(null)");
  check(zv_duration_frames(nullptr) == 0, "zv_duration_frames(null)");
  check(zv_jump_to_order(nullptr, 0) == ZV_ERROR_ARGUMENT, "zv_jump_to_order(null)");
  for (int (*get)(const zv_module*) : {zv_order, zv_pattern, zv_row, zv_pattern_rows, zv_speed, zv_tempo,
                                        zv_active_voices, zv_channels, zv_song_length, zv_restart_position,
                                        zv_instruments}) {
    check(get(nullptr) == -1, "a count or position of a null handle is not -1");
  }
  check(zv_format(nullptr) == 0 && zv_xm_version(nullptr) == 0, "zv_format/zv_xm_version(null)");
  check(zv_mod_signature(nullptr) == nullptr && zv_name(nullptr) == nullptr && zv_printable_name(nullptr) == nullptr,
        "a name of a null handle is not null");
  check(zv_instrument_name(nullptr, 1) == nullptr && zv_samples(nullptr, 1) == -1 &&
            zv_sample_name(nullptr, 1, 0) == nullptr,
        "an instrument of a null handle");
  zv_error error = ZV_OK;
  check(zv_load_memory(nullptr, 16, nullptr, &error) == nullptr && error == ZV_ERROR_ARGUMENT, "zv_load_memory(null)");
  error = ZV_OK;
  check(zv_load_memory(data, size_t{UINT32_MAX} + 1, nullptr, &error) == nullptr && error == ZV_ERROR_ARGUMENT,
        "zv_load_memory of 4 GiB");
  check(zv_load_file(nullptr, nullptr, &error) == nullptr && error == ZV_ERROR_ARGUMENT, "zv_load_file(null)");
  // Every reason, and the values of the type's range that name none (C++
  // may not make a zv_error of a value outside that range).
  for (int e = ZV_OK; e <= 7; ++e) {
    check(zv_error_message(static_cast<zv_error>(e)) != nullptr, "zv_error_message gave null");
  }
  check(std::strcmp(zv_version(), ZV_VERSION_STRING) == 0, "zv_version");
  zv_free(nullptr);
  zv_default_settings(nullptr);
}

// A stored name: not null, at most `limit` bytes before its zero.
void checkName(const char* name, size_t limit, const char* what) {
  check(name != nullptr, what);
  check(std::memchr(name, 0, limit + 1) != nullptr, what);
}

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F); }

// The module's information, every instrument's and sample's name included,
// and the numbers out of range around them.
void checkInformation(const zv_module* m) {
  const int format = zv_format(m);
  check(format == ZV_FORMAT_XM || format == ZV_FORMAT_MOD, "zv_format");
  const int version = zv_xm_version(m);
  check(format == ZV_FORMAT_XM ? version >= 0x0102 && version <= 0x0104 : version == 0, "zv_xm_version");
  const char* signature = zv_mod_signature(m);
  check(signature != nullptr && (format == ZV_FORMAT_MOD || signature[0] == '\0'), "zv_mod_signature");
  const char* name = zv_name(m);
  const char* shown = zv_printable_name(m);
  checkName(name, 20, "zv_name");
  checkName(shown, 20, "zv_printable_name");
  check(std::strlen(name) == std::strlen(shown), "the printable name's length");
  for (size_t i = 0; name[i] != '\0'; ++i) {
    const auto c = static_cast<unsigned char>(name[i]);
    check(shown[i] == (isControl(c) ? '.' : name[i]), "the printable name's bytes");
  }
  const int channels = zv_channels(m);
  check(channels >= 2 && channels <= 32, "zv_channels");
  check(zv_song_length(m) >= 0 && zv_restart_position(m) >= 0, "song length or restart position");
  const int instruments = zv_instruments(m);
  check(instruments >= 0, "zv_instruments");
  for (int i = -1; i <= instruments + 1; ++i) {
    const bool in = i >= 1 && i <= instruments;
    const char* instrumentName = zv_instrument_name(m, i);
    const int samples = zv_samples(m, i);
    if (!in) {
      check(instrumentName == nullptr && samples == 0, "an instrument out of range");
      continue;
    }
    checkName(instrumentName, 22, "zv_instrument_name");
    check(samples >= 0 && samples <= 16, "zv_samples");
    for (int s = -1; s <= samples; ++s) {
      const char* sampleName = zv_sample_name(m, i, s);
      if (s < 0 || s == samples) {
        check(sampleName == nullptr, "a sample out of range");
      } else {
        checkName(sampleName, 22, "zv_sample_name");
      }
    }
  }
}

// The position getters agree with each other and with the song.
void checkPosition(const zv_module* m) {
  const int length = zv_song_length(m);
  const int order = zv_order(m);
  const int rows = zv_pattern_rows(m);
  const int row = zv_row(m);
  check(order >= 0 && order < (length > 0 ? length : 1), "zv_order outside the song");
  check(zv_pattern(m) >= 0 && zv_pattern(m) < 256, "zv_pattern");
  check(rows >= 0 && rows <= 1024, "zv_pattern_rows");
  check(row >= 0 && row < (rows > 0 ? rows : 1), "zv_row outside its pattern");
  check(zv_speed(m) >= 0 && zv_tempo(m) >= 0, "zv_speed or zv_tempo");
  const int voices = zv_active_voices(m);
  check(voices >= 0 && voices <= zv_channels(m), "zv_active_voices");
}

// Renders up to `frames` frames into `out` in calls sized by `sizes`, with
// empty calls (no buffer, no frames) between them that must give nothing and
// change nothing. `midway` runs once the stream passes half of `frames`.
// Returns the frames given.
template <typename Midway>
size_t renderPass(Stream& stream, int16_t* out, size_t frames, CallSizes& sizes, Midway midway) {
  size_t done = 0;
  bool midwayRun = false;
  while (done < frames && !stream.ended) {
    size_t ask = sizes.next();
    if (ask > frames - done) ask = frames - done;
    done += stream.render(out + 2 * done, ask);
    checkPosition(stream.module);
    if ((ask & 7) == 0) {
      check(zv_render(stream.module, nullptr, 64) == 0 && zv_render(stream.module, out, 0) == 0, "an empty call");
    }
    if (!midwayRun && done >= frames / 2) {
      midwayRun = true;
      midway();
    }
  }
  return done;
}

// Jumps, master volumes and end modes from `sizes`, each followed by a
// piece of the stream; values in range and out of it.
void moveAbout(Stream& stream, std::vector<int16_t>& out, CallSizes& sizes) {
  const int length = zv_song_length(stream.module);
  const int orders[] = {-1, INT_MIN, 0, length - 1, length, length + 3, INT_MAX, static_cast<int>(sizes.pick(256))};
  const int volumes[] = {INT_MIN, -1, 0, 1, 128, 256, 257, 100000, INT_MAX};
  const int modes[] = {ZV_END_STOP, ZV_END_LOOP, ZV_END_LOOP, -1, 2};
  for (int step = 0; step < 8; ++step) {
    switch (sizes.pick(3)) {
      case 0: {
        const int order = orders[sizes.pick(sizeof orders / sizeof orders[0])];
        check(zv_jump_to_order(stream.module, order) == (order < 0 ? ZV_ERROR_ARGUMENT : ZV_OK), "zv_jump_to_order");
        if (order >= 0 && length > 0) {
          check(zv_order(stream.module) == (order < length ? order : length - 1), "zv_order after a jump");
          check(zv_row(stream.module) == 0, "zv_row after a jump");
        }
        break;
      }
      case 1:
        check(zv_set_master_volume(stream.module, volumes[sizes.pick(sizeof volumes / sizeof volumes[0])]) == ZV_OK,
              "zv_set_master_volume");
        break;
      default:
        stream.setMode(modes[sizes.pick(sizeof modes / sizeof modes[0])]);
        break;
    }
    size_t ask = sizes.next();
    if (ask > 4096) ask = 4096;
    stream.render(out.data(), ask);
    checkPosition(stream.module);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  checkNullHandle(data);
  uint8_t b[kOptionBytes] = {};
  const size_t moduleBytes = size > kOptionBytes ? size - kOptionBytes : 0;
  std::memcpy(b, data + moduleBytes, size - moduleBytes);
  // Values in range and out of it: the library clamps them.
  zv_settings settings;
  settings.frequency = 4000 + static_cast<int32_t>((b[0] | (b[1] << 8) | ((b[2] & 1) << 16)) % 100000);
  settings.amp = b[3] % 40;
  settings.interpolation = b[5] & 0x11;
  settings.volume_ramping = b[5] & 0x22;
  const int stopVolumes[] = {256, 257, 300, INT_MAX};  // all clamped to 256: the stream is unchanged
  const int stopVolume = stopVolumes[b[4] & 3];
  const uint32_t seed = b[6] | (uint32_t{b[7]} << 8) | (uint32_t{b[2]} << 16);

  zv_error error = ZV_OK;
  zv_module* first = zv_load_memory(data, moduleBytes, &settings, &error);
  if (first == nullptr) {
    check(error == ZV_ERROR_NOT_A_MODULE || error == ZV_ERROR_DAMAGED || error == ZV_ERROR_OUT_OF_MEMORY,
          "a failed load's reason");
    return 0;
  }
  check(error == ZV_OK, "a load's reason is not ZV_OK");
  checkInformation(first);
  checkPosition(first);

  // The stopping pass.
  static std::vector<int16_t> stopFrames(2 * kPassFrames);
  static std::vector<int16_t> loopFrames(2 * kPassFrames);
  Stream stop{first};
  check(zv_set_master_volume(first, stopVolume) == ZV_OK, "zv_set_master_volume");
  CallSizes stopSizes(seed);
  const size_t stopped = renderPass(stop, stopFrames.data(), kPassFrames, stopSizes, [] {});
  if (stop.ended) {
    // A song this short costs little to run again.
    check(zv_duration_frames(first) == stopped, "zv_duration_frames differs from the frames rendered");
    int16_t after[8];
    check(stop.render(after, 4) == 0, "an ended stream gave frames again");
  }
  zv_free(first);

  // The looping pass on a handle of its own: the same frames as far as the
  // stopping pass went, whatever the calls' sizes; zv_duration_frames midway
  // leaves the stream as it was.
  zv_module* second = zv_load_memory(data, moduleBytes, &settings, nullptr);
  check(second != nullptr, "a module that loaded once does not load again");
  Stream loop{second};
  loop.setMode(2);
  loop.setMode(ZV_END_LOOP);
  CallSizes loopSizes(~seed);
  const size_t looped = renderPass(loop, loopFrames.data(), kPassFrames, loopSizes, [&] {
    if (stop.ended) check(zv_duration_frames(second) == stopped, "zv_duration_frames midway in a looping stream");
  });
  check(looped == kPassFrames, "the looping pass ended");
  check(std::memcmp(stopFrames.data(), loopFrames.data(), stopped * 4) == 0,
        "the looping stream differs from the stopping one before its end");

  moveAbout(loop, loopFrames, loopSizes);
  zv_free(second);
  return 0;
}

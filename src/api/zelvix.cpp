// The C interface (include/zelvix/zelvix.h) over one engine per handle.
#include <zelvix/zelvix.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "audio/player.h"
#include "audio/tick_stream.h"
#include "loader/module_loader.h"
#include "mixer/voices.h"
#include "replayer/engine.h"
#include "replayer/tick_engine.h"

// What a handle holds: its engine, the stream of its song, and the module
// name as it is shown.
struct zv_module {
  zv::Engine engine;
  zv::TickStream stream;
  char printableName[sizeof zv::Song::name] = {};
};

namespace {

using zv::Engine;

zv_error errorOf(zv::LoadFailure failure) {
  switch (failure) {
    case zv::LoadFailure::none: return ZV_OK;
    case zv::LoadFailure::unreadable: return ZV_ERROR_READ;
    case zv::LoadFailure::notAModule: return ZV_ERROR_NOT_A_MODULE;
    case zv::LoadFailure::damaged: return ZV_ERROR_DAMAGED;
    case zv::LoadFailure::outOfMemory: return ZV_ERROR_OUT_OF_MEMORY;
  }
  return ZV_ERROR_DAMAGED;
}

zv_module* failed(zv_error* error, zv_error why) {
  if (error != nullptr) *error = why;
  return nullptr;
}

// A handle set up with `settings` (null: the defaults), its song loaded by
// `load`, and its stream at the song's start.
template <typename Load>
zv_module* loadModule(const zv_settings* settings, zv_error* error, Load load) {
  zv_settings s;
  zv_default_settings(&s);
  if (settings != nullptr) s = *settings;
  zv_module* module = new (std::nothrow) zv_module();
  if (module == nullptr) return failed(error, ZV_ERROR_OUT_OF_MEMORY);
  Engine& e = module->engine;
  // The player clamps the frequency and the amp as the command line does.
  zv::setupReplayer(e, s.frequency, 1024, s.interpolation != 0, s.volume_ramping != 0);
  zv::setAmp(e, s.amp);
  zv::LoadFailure failure = zv::LoadFailure::none;
  zv_error why = ZV_OK;
  if (!load(e, &failure)) {
    why = errorOf(failure);
  } else if (!zv::startTickStream(e, module->stream)) {
    why = ZV_ERROR_OUT_OF_MEMORY;
  }
  if (why != ZV_OK) {
    delete module;
    return failed(error, why);
  }
  zv::printableName(e.song.name, module->printableName);
  if (error != nullptr) *error = ZV_OK;
  return module;
}

bool instrumentInRange(const zv_module* module, int instrument) {
  return module != nullptr && instrument >= 1 && instrument <= module->engine.song.instrumentCount &&
         instrument < zv::kInstrumentSlots;
}

// The instrument's record; null for an empty one (a MOD sample without data).
const zv::Instrument* instrumentOf(const zv_module* module, int instrument) {
  return instrumentInRange(module, instrument) ? module->engine.song.instruments[instrument] : nullptr;
}

int songField(const zv_module* module, int (*read)(const Engine& e)) {
  return module != nullptr ? read(module->engine) : -1;
}

}  // namespace

extern "C" {

void zv_default_settings(zv_settings* settings) {
  if (settings == nullptr) return;
  settings->frequency = 44100;
  settings->amp = 10;
  settings->interpolation = 1;
  settings->volume_ramping = 1;
}

zv_module* zv_load_memory(const void* data, size_t size, const zv_settings* settings, zv_error* error) {
  if (data == nullptr) return failed(error, ZV_ERROR_ARGUMENT);
  if (size > UINT32_MAX) return failed(error, ZV_ERROR_ARGUMENT);
  return loadModule(settings, error, [&](Engine& e, zv::LoadFailure* failure) {
    return zv::loadModuleFromMemory(e, static_cast<const uint8_t*>(data), static_cast<uint32_t>(size), failure);
  });
}

zv_module* zv_load_file(const char* path, const zv_settings* settings, zv_error* error) {
  if (path == nullptr) return failed(error, ZV_ERROR_ARGUMENT);
  return loadModule(settings, error,
                    [&](Engine& e, zv::LoadFailure* failure) { return zv::loadModuleFile(e, path, failure); });
}

void zv_free(zv_module* module) { delete module; }

const char* zv_error_message(zv_error error) {
  // A C caller may pass any value of the enum's type: it is read as an
  // integer, never as a zv_error that may not hold it.
  int code;
  std::memcpy(&code, &error, sizeof code);
  switch (code) {
    case ZV_OK: return "No error.";
    case ZV_ERROR_NOT_A_MODULE: return "The data are not an XM or MOD module.";
    case ZV_ERROR_DAMAGED: return "The module is damaged and cannot be loaded.";
    case ZV_ERROR_OUT_OF_MEMORY: return "Out of memory.";
    case ZV_ERROR_READ: return "The file cannot be read.";
    case ZV_ERROR_ARGUMENT: return "An argument is null or out of range.";
  }
  return "Unknown error.";
}

size_t zv_render(zv_module* module, int16_t* out, size_t frames) {
  if (module == nullptr || out == nullptr) return 0;
  return zv::readTickStream(module->engine, module->stream, out, frames);
}

int zv_set_end_mode(zv_module* module, int mode) {
  if (module == nullptr || (mode != ZV_END_STOP && mode != ZV_END_LOOP)) return ZV_ERROR_ARGUMENT;
  module->stream.stopAtEnd = mode == ZV_END_STOP;
  return ZV_OK;
}

int zv_set_master_volume(zv_module* module, int volume) {
  if (module == nullptr) return ZV_ERROR_ARGUMENT;
  zv::setMasterVolume(module->engine, volume);
  module->stream.masterVolume = zv::getMasterVolume(module->engine);
  return ZV_OK;
}

uint64_t zv_duration_frames(const zv_module* module) {
  return module != nullptr ? zv::tickStreamLength(module->engine, module->stream) : 0;
}

int zv_jump_to_order(zv_module* module, int order) {
  if (module == nullptr || order < 0) return ZV_ERROR_ARGUMENT;
  Engine& e = module->engine;
  e.song.globalVolume = 64;
  zv::resetChannels(e);
  // What the row being left asked for (a break, a jump, a loop's jump, a
  // delay) is dropped: it must not move the entry jumped to.
  e.song.breakRow = 0;
  e.song.positionJump = 0;
  e.song.patternLoopJump = 0;
  e.song.patternDelay = 0;
  e.song.patternDelayCounter = 0;
  zv::setPosition(e, order, 0);
  return ZV_OK;
}

int zv_order(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.playingPosition}; });
}
int zv_pattern(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.patternNumber}; });
}
int zv_row(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.row}; });
}
int zv_pattern_rows(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.patternLength}; });
}
int zv_speed(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.speed}; });
}
int zv_tempo(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.tempo}; });
}
int zv_active_voices(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{zv::countActiveVoices(e.mixer, e.song.channelCount)}; });
}

int zv_format(const zv_module* module) { return module != nullptr ? module->engine.song.format : 0; }
int zv_xm_version(const zv_module* module) {
  return module != nullptr && module->engine.song.format == zv::kFormatXm ? module->engine.song.formatVersion : 0;
}
const char* zv_mod_signature(const zv_module* module) {
  return module != nullptr ? module->engine.song.modSignature : nullptr;
}

const char* zv_name(const zv_module* module) { return module != nullptr ? module->engine.song.name : nullptr; }
const char* zv_printable_name(const zv_module* module) {
  return module != nullptr ? module->printableName : nullptr;
}

int zv_frequency(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.player.mixingFrequency}; });
}

int zv_channels(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.channelCount}; });
}
int zv_song_length(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.songLength}; });
}
int zv_restart_position(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.restartPosition}; });
}

int zv_instruments(const zv_module* module) {
  return songField(module, [](const Engine& e) { return int{e.song.instrumentCount}; });
}

const char* zv_instrument_name(const zv_module* module, int instrument) {
  if (!instrumentInRange(module, instrument)) return nullptr;
  const zv::Instrument* ins = instrumentOf(module, instrument);
  if (ins == nullptr) return "";
  // A MOD instrument is its one sample, whose name the file gives.
  return module->engine.song.format == zv::kFormatMod ? ins->samples[0].name : ins->name;
}

int zv_samples(const zv_module* module, int instrument) {
  if (module == nullptr) return -1;
  const zv::Instrument* ins = instrumentOf(module, instrument);
  if (ins == nullptr) return 0;
  if (module->engine.song.format == zv::kFormatMod) return 1;
  return std::clamp<int>(ins->sampleCount, 0, zv::kSamplesPerInstrument);
}

const char* zv_sample_name(const zv_module* module, int instrument, int sample) {
  if (sample < 0 || sample >= zv_samples(module, instrument)) return nullptr;
  return instrumentOf(module, instrument)->samples[sample].name;
}

const char* zv_version(void) { return ZV_VERSION_STRING; }

}  // extern "C"

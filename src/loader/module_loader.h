// Loading a module file into an engine's song. The format is recognised by content.
#pragma once

#include <cstdint>

#include "loader/module_reader.h"
#include "replayer/engine.h"

namespace zv {

// Why a load failed.
enum class LoadFailure {
  none,
  unreadable,   // the file cannot be opened or read whole
  notAModule,   // no XM signature, no MOD signature, no 15-sample form
  damaged,      // an XM or MOD module that does not load
  outOfMemory,
};

// Reads the whole file and loads it. False when the file cannot be read whole
// (missing, not a regular file, 2^32 bytes or more, short read) or does not
// load; the song is untouched when the file could not be read. `failure`,
// when not null, receives why (none on success).
bool loadModuleFile(Engine& e, const char* path, LoadFailure* failure = nullptr);

// Loads a module from a caller-owned block (not kept). Releases the engine's
// previous song first (stopping its output). True only when the song is
// completely loaded (songLoaded = 1); `failure` as for loadModuleFile.
bool loadModuleFromMemory(Engine& e, const uint8_t* data, uint32_t size, LoadFailure* failure = nullptr);

// The MOD reader, given the reader after the first 336 bytes found no XM signature.
bool readModModule(Engine& e, ModuleReader& reader);

// The closing steps shared by both readers: restart position limited, song
// rewound, samples prepared, songLoaded set. Returns true.
bool finishLoadedSong(Engine& e);

// Steps of the XM reading. Each returns false when the load must fail.
// The patterns 0..patternCount-1, from the reader's position.
bool readXmPatterns(Engine& e, ModuleReader& reader, uint16_t patternCount);
// Instrument `number`'s header and sample headers.
bool readXmInstrument(Engine& e, ModuleReader& reader, int number);
// Instrument `number`'s sample data.
bool readXmSampleData(Engine& e, ModuleReader& reader, int number);

// Row counts above this fail an XM pattern that has packed data.
constexpr uint16_t kMaxPatternRows = 1024;

// Bytes of XM pattern cells that a load may allocate beyond what the packed
// data can fill (every cell takes at least one packed byte, so the cells past
// the bytes at hand stay empty: a pattern cut short by the end of the file,
// or a header claiming many rows for a few bytes). A file whose patterns
// claim more fails before the block that would pass it is allocated.
constexpr uint64_t kUnsuppliedCellBytesLimit = uint64_t{4} << 20;

// Sample bytes that a load may allocate beyond what the file supplies (a
// truncated file still gets full-length sample blocks). A file whose sample
// headers claim more fails: no file of that shape could justify it.
constexpr uint64_t kUnsuppliedSampleBytesLimit = uint64_t{16} << 20;

}  // namespace zv

// Loading a module file into the song. The format is recognised by content.
#pragma once

#include <cstdint>

#include "loader/module_reader.h"

namespace zv {

// Reads the whole file and loads it. False when the file cannot be read whole
// (missing, not a regular file, 2^32 bytes or more, short read) or does not
// load; the song is untouched when the file could not be read.
bool loadModuleFile(const char* path);

// Loads a module from a caller-owned block (not kept). Releases the previous
// song first. True only when the song is completely loaded (songLoaded = 1).
bool loadModuleFromMemory(const uint8_t* data, uint32_t size);

// The MOD reader, given the reader after the first 336 bytes found no XM signature.
bool readModModule(ModuleReader& reader);

// The closing steps shared by both readers: restart position limited, song
// rewound, samples prepared, songLoaded set. Returns true.
bool finishLoadedSong();

// Steps of the XM reading. Each returns false when the load must fail.
// The patterns 0..patternCount-1, from the reader's position.
bool readXmPatterns(ModuleReader& reader, uint16_t patternCount);
// Instrument `number`'s header and sample headers.
bool readXmInstrument(ModuleReader& reader, int number);
// Instrument `number`'s sample data.
bool readXmSampleData(ModuleReader& reader, int number);

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

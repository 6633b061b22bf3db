// Loading a module file into the song. The format is recognised by content.
#pragma once

#include <cstdint>

#include "loader/module_reader.h"

namespace zv {

// Reads the whole file and loads it. False when the file cannot be read whole
// (missing, a directory, 2^32 bytes or more, short read) or does not load.
bool loadModuleFile(const char* path);

// Loads a module from a caller-owned block (not kept). Releases the previous
// song first. True only when the song is completely loaded (songLoaded = 1).
bool loadModuleFromMemory(const uint8_t* data, uint32_t size);

// The MOD reader, given the reader after the first 336 bytes found no XM signature.
bool readModModule(ModuleReader& reader);

// The closing steps shared by both readers: restart position limited, song
// rewound, samples prepared, songLoaded set. Returns true.
bool finishLoadedSong();

}  // namespace zv

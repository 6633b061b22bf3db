// The loader's entry points, format recognition, the XM reader and the
// finishing step shared with the MOD reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "loader/module_loader.h"
#include "loader/song_memory.h"
#include "replayer/pitch.h"
#include "replayer/tick_engine.h"

namespace zv {

namespace {

constexpr size_t kXmHeaderBytes = 336;
constexpr size_t kInstrumentHeaderBytes = 263;
constexpr size_t kSampleHeaderBytes = 40;
constexpr char kXmSignature[] = "Extended Module: ";

uint16_t u16le(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

int32_t s32le(const uint8_t* p) {
  uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
               (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return static_cast<int32_t>(v);
}

void copyName(char* to, const uint8_t* from, size_t n) {
  std::memcpy(to, from, n);
  to[n] = '\0';
}

// ---------------------------------------------------------------- patterns

// Decodes packed cells from `packed` (which is never written) into `cells`.
// Bytes past `available` read as 0, so a cell cut short by the end of the
// data gets zero fields and every cell after it is empty: decoding stops there.
void decodePackedCells(const uint8_t* packed, size_t available, NoteCell* cells, size_t cellCount) {
  size_t in = 0;
  auto next = [&]() -> uint8_t { return in < available ? packed[in++] : 0; };
  for (size_t c = 0; c < cellCount && in < available; ++c) {
    NoteCell& cell = cells[c];
    uint8_t b = next();
    if (b & 0x80) {
      if (b & 0x01) cell.note = next();
      if (b & 0x02) cell.instrument = next();
      if (b & 0x04) cell.volumeColumn = next();
      if (b & 0x08) cell.effect = next();
      if (b & 0x10) cell.effectParam = next();
    } else {
      cell.note = b;
      cell.instrument = next();
      cell.volumeColumn = next();
      cell.effect = next();
      cell.effectParam = next();
    }
    if (cell.note > kKeyOffNote) cell.note = 0;
  }
}

bool allBytesZero(const void* block, size_t bytes) {
  const auto* p = static_cast<const uint8_t*>(block);
  for (size_t i = 0; i < bytes; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

struct XmPatternHeader {
  int32_t headerLength;
  uint16_t rows;
  uint16_t packedSize;
};

XmPatternHeader readPatternHeader(ModuleReader& reader, uint16_t formatVersion) {
  uint8_t fields[9] = {};
  XmPatternHeader header;
  int32_t fixedBytes;
  if (formatVersion == 0x0102) {
    fixedBytes = 8;
    reader.read(fields, 8);
    header.rows = static_cast<uint16_t>(fields[5] + 1);
    header.packedSize = u16le(fields + 6);
  } else {
    fixedBytes = 9;
    reader.read(fields, 9);
    header.rows = u16le(fields + 5);
    header.packedSize = u16le(fields + 7);
  }
  header.headerLength = s32le(fields);
  // A longer header puts the packed data at the pattern's start + its length.
  if (header.headerLength > fixedBytes) {
    reader.skip(static_cast<uint64_t>(header.headerLength - fixedBytes));
  }
  return header;
}

// An empty pattern keeps no cells but plays the rows its header gives (a
// short pause is saved as an empty pattern); a count of 0, or one no pattern
// may have, plays as 64.
void leaveAbsent(Song& song, int n, uint16_t rows) {
  std::free(song.patterns[n]);
  song.patterns[n] = nullptr;
  song.patternRows[n] = rows >= 1 && rows <= kMaxPatternRows ? rows : kAbsentPatternRows;
}

}  // namespace

bool readXmPatterns(Engine& e, ModuleReader& reader, uint16_t patternCount) {
  Song& song = e.song;
  for (int n = 0; n < patternCount && n < kPatternSlots; ++n) {
    XmPatternHeader header = readPatternHeader(reader, song.formatVersion);
    if (reader.atEnd) return false;
    song.patternRows[n] = header.rows;
    if (header.packedSize == 0) {
      leaveAbsent(song, n, header.rows);
      continue;
    }
    size_t available;
    const uint8_t* packed = reader.take(header.packedSize, available);
    if (header.rows > kMaxPatternRows) return false;
    size_t cellCount = static_cast<size_t>(header.rows) * song.channelCount;
    if (cellCount == 0) {
      leaveAbsent(song, n, 0);
      continue;
    }
    const uint64_t unfilled = (cellCount - std::min(cellCount, available)) * sizeof(NoteCell);
    if (unfilled > kUnsuppliedCellBytesLimit - reader.unsuppliedCellBytes) return false;
    reader.unsuppliedCellBytes += unfilled;
    auto* cells = static_cast<NoteCell*>(std::calloc(cellCount, sizeof(NoteCell)));
    if (cells == nullptr) return reader.noMemory();
    song.patterns[n] = cells;
    decodePackedCells(packed, available, cells, cellCount);
    if (allBytesZero(cells, cellCount * sizeof(NoteCell))) leaveAbsent(song, n, header.rows);
  }
  return true;
}

// ---------------------------------------------------------------- instruments

namespace {

void copyEnvelopePoints(EnvelopePoint* points, const uint8_t* from) {
  for (int i = 0; i < kEnvelopePoints; ++i) {
    points[i].tick = u16le(from + 4 * i);
    points[i].value = u16le(from + 4 * i + 2);
  }
}

void copyInstrumentHeader(Instrument& ins, const uint8_t* h) {
  copyName(ins.name, h + 4, 22);
  ins.sampleCount = static_cast<int16_t>(u16le(h + 27));
  std::memcpy(ins.sampleMap, h + 33, kNoteCount);
  copyEnvelopePoints(ins.volumeEnvelopePoints, h + 129);
  copyEnvelopePoints(ins.panningEnvelopePoints, h + 177);
  ins.volumeEnvelopePointCount = h[225];
  ins.panningEnvelopePointCount = h[226];
  ins.volumeSustainPoint = h[227];
  ins.volumeLoopStartPoint = h[228];
  ins.volumeLoopEndPoint = h[229];
  ins.panningSustainPoint = h[230];
  ins.panningLoopStartPoint = h[231];
  ins.panningLoopEndPoint = h[232];
  ins.volumeEnvelopeFlags = h[233];
  ins.panningEnvelopeFlags = h[234];
  ins.vibratoType = h[235];
  ins.vibratoSweep = h[236];
  ins.vibratoDepth = h[237];
  ins.vibratoRate = h[238];
  ins.fadeout = u16le(h + 239);
  ins.muted = h[247] == 1 ? 1 : 0;
}

void copySampleHeader(Sample& sample, const uint8_t* h) {
  sample.length = s32le(h);
  sample.loopStart = s32le(h + 4);
  sample.loopLength = s32le(h + 8);
  sample.volume = h[12] > 64 ? 64 : h[12];
  sample.finetune = static_cast<int8_t>(h[13]);
  sample.type = h[14] & kSampleTypeMask;  // other bits would reach the voice flags
  sample.panning = h[15];
  sample.relativeNote = static_cast<int8_t>(h[16]);
  copyName(sample.name, h + 18, 22);
}

}  // namespace

bool readXmInstrument(Engine& e, ModuleReader& reader, int number) {
  if (number < 1 || number >= kInstrumentSlots) return false;
  uint8_t h[kInstrumentHeaderBytes] = {};
  uint64_t instrumentStart = reader.size - reader.remaining;
  reader.read(h, 4);
  int32_t headerSize = s32le(h);
  if (headerSize < 4) return false;
  if (static_cast<size_t>(headerSize) > kInstrumentHeaderBytes) {
    reader.read(h + 4, kInstrumentHeaderBytes - 4);
    // The sample headers follow the whole declared header.
    reader.seekTo(instrumentStart + static_cast<uint64_t>(headerSize));
  } else if (headerSize > 4) {
    reader.read(h + 4, static_cast<size_t>(headerSize) - 4);
  }

  uint16_t sampleCount = u16le(h + 27);
  if (sampleCount > kSamplesPerInstrument) return false;
  if (sampleCount == 0) return true;

  Instrument*& slot = e.song.instruments[number];
  if (slot == nullptr) slot = newInstrument();
  if (slot == nullptr) return reader.noMemory();
  copyInstrumentHeader(*slot, h);

  if (reader.position == nullptr || reader.atEnd) return false;
  uint8_t headers[kSamplesPerInstrument * kSampleHeaderBytes];
  size_t wanted = sampleCount * kSampleHeaderBytes;
  if (reader.read(headers, wanted) < wanted) return false;
  for (int s = 0; s < sampleCount; ++s) copySampleHeader(slot->samples[s], headers + s * kSampleHeaderBytes);
  return true;
}

// ---------------------------------------------------------------- sample data

namespace {

void undoDelta8(int8_t* data, int32_t length) {
  auto* bytes = reinterpret_cast<uint8_t*>(data);
  uint8_t sum = 0;
  for (int32_t i = 0; i < length; ++i) {
    sum = static_cast<uint8_t>(sum + bytes[i]);
    bytes[i] = sum;
  }
}

// Words are little-endian and taken bytewise; an odd last byte stays as read.
void undoDelta16(int8_t* data, int32_t length) {
  auto* bytes = reinterpret_cast<uint8_t*>(data);
  uint16_t sum = 0;
  int32_t words = length / 2;
  for (int32_t w = 0; w < words; ++w) {
    uint8_t* p = bytes + 2 * static_cast<size_t>(w);
    sum = static_cast<uint16_t>(sum + u16le(p));
    p[0] = static_cast<uint8_t>(sum & 0xFF);
    p[1] = static_cast<uint8_t>(sum >> 8);
  }
}

// Allocates the sample's block (zero-filled), copies what the file has and
// undoes the delta coding over the whole length.
bool readXmSampleBytes(ModuleReader& reader, Sample& sample) {
  uint64_t length = static_cast<uint64_t>(sample.length);
  uint64_t supplied = reader.atEnd || reader.position == nullptr ? 0 : std::min(reader.remaining, length);
  uint64_t missing = length - supplied;
  if (missing > kUnsuppliedSampleBytesLimit - reader.unsuppliedSampleBytes) return false;
  reader.unsuppliedSampleBytes += missing;

  sample.data = allocateSampleData(sample.length);
  if (sample.data == nullptr) return reader.noMemory();
  reader.read(sample.data, static_cast<size_t>(length));
  if (sample.type & kSample16Bit) {
    undoDelta16(sample.data, sample.length);
  } else {
    undoDelta8(sample.data, sample.length);
  }
  return true;
}

}  // namespace

bool readXmSampleData(Engine& e, ModuleReader& reader, int number) {
  if (number < 0 || number >= kInstrumentSlots) return false;
  Instrument* ins = e.song.instruments[number];
  if (ins == nullptr || ins->sampleCount <= 0) return true;
  int count = ins->sampleCount < kSamplesPerInstrument ? ins->sampleCount : kSamplesPerInstrument;
  for (int s = 0; s < count; ++s) {
    Sample& sample = ins->samples[s];
    if (sample.length > 0 && !readXmSampleBytes(reader, sample)) return false;
    clampSampleLoop(sample);
  }
  return true;
}

// ---------------------------------------------------------------- the module

namespace {

bool readXmBody(Engine& e, ModuleReader& reader, uint16_t patternCount) {
  int instrumentCount = e.song.instrumentCount;
  if (e.song.formatVersion == 0x0104) {
    if (!readXmPatterns(e, reader, patternCount)) return false;
    for (int i = 1; i <= instrumentCount; ++i) {
      if (!readXmInstrument(e, reader, i) || !readXmSampleData(e, reader, i)) return false;
    }
    return true;
  }
  for (int i = 1; i <= instrumentCount; ++i) {
    if (!readXmInstrument(e, reader, i)) return false;
  }
  if (!readXmPatterns(e, reader, patternCount)) return false;
  for (int i = 1; i <= instrumentCount; ++i) {
    if (!readXmSampleData(e, reader, i)) return false;
  }
  return true;
}

bool readXmModule(Engine& e, ModuleReader& reader, const uint8_t* header) {
  Song& song = e.song;
  uint16_t version = u16le(header + 58);
  int32_t headerSize = s32le(header + 60);
  uint16_t channelCount = u16le(header + 68);
  uint16_t patternCount = u16le(header + 70);
  uint16_t instrumentCount = u16le(header + 72);
  if (version < 0x0102 || version > 0x0104) return false;
  if (channelCount < 2 || channelCount > kMaxChannels) return false;
  if (patternCount > kPatternSlots || instrumentCount > kInstrumentSlots - 1) return false;
  if (channelCount % 2 != 0) return false;

  int64_t body = 60 + static_cast<int64_t>(headerSize);
  if (body < 0) return false;  // before the start of the data
  reader.seekTo(static_cast<uint64_t>(body));
  if (reader.atEnd) return false;

  copyName(song.name, header + 17, 20);
  // The order list has 256 entries: positions past it would alias entries.
  song.songLength = std::min<uint16_t>(u16le(header + 64), kOrderEntries);
  song.restartPosition = u16le(header + 66);
  song.channelCount = static_cast<uint8_t>(channelCount);
  song.linearFrequencies = u16le(header + 74) & 1;
  song.periodTable = song.linearFrequencies ? linearPeriodTable : amigaPeriodTable;
  std::memcpy(song.orderList, header + 80, kOrderEntries);
  song.instrumentCount = instrumentCount;
  uint16_t tempo = u16le(header + 78);
  uint16_t speed = u16le(header + 76);
  song.tempo = tempo == 0 ? 125 : tempo;
  song.speed = speed == 0 ? 1 : speed;
  song.formatVersion = version;
  song.format = kFormatXm;
  std::memset(song.modSignature, 0, sizeof song.modSignature);

  if (!readXmBody(e, reader, patternCount)) {
    freeInstruments(e.song);
    freePatterns(e.song);
    return false;
  }
  return finishLoadedSong(e);
}

}  // namespace

bool finishLoadedSong(Engine& e) {
  if (e.song.restartPosition > e.song.songLength) e.song.restartPosition = 0;
  rewindSong(e);
  prepareSamples(e);
  e.song.songLoaded = 1;
  return true;
}

namespace {

// Loads from the reader's block; the reader then tells why a load failed.
bool loadFromReader(Engine& e, ModuleReader& reader) {
  Song& song = e.song;
  if (song.instruments[0] == nullptr) song.instruments[0] = newInstrument();
  if (song.instruments[0] == nullptr) return reader.noMemory();
  song.instruments[0]->samples[0].volume = 0;

  uint8_t header[kXmHeaderBytes] = {};
  reader.read(header, kXmHeaderBytes);
  reader.recognised = std::memcmp(header, kXmSignature, 17) == 0;
  if (reader.size <= kXmHeaderBytes) return false;
  if (!reader.recognised) return readModModule(e, reader);
  return readXmModule(e, reader, header);
}

bool failWith(LoadFailure* failure, LoadFailure why) {
  if (failure != nullptr) *failure = why;
  return false;
}

}  // namespace

bool loadModuleFromMemory(Engine& e, const uint8_t* data, uint32_t size, LoadFailure* failure) {
  Song& song = e.song;
  freeSong(e);
  song.linearFrequencies = 0;
  song.periodTable = amigaPeriodTable;
  song.songLoaded = 0;
  if (data == nullptr || size == 0) return failWith(failure, LoadFailure::notAModule);
  ModuleReader reader = makeModuleReader(data, size);
  const bool loaded = loadFromReader(e, reader);
  if (failure != nullptr) {
    *failure = loaded                ? LoadFailure::none
               : reader.outOfMemory ? LoadFailure::outOfMemory
               : reader.recognised  ? LoadFailure::damaged
                                    : LoadFailure::notAModule;
  }
  return loaded;
}

bool loadModuleFile(Engine& e, const char* path, LoadFailure* failure) {
  if (path == nullptr) return failWith(failure, LoadFailure::unreadable);
  // Without O_NONBLOCK, opening a FIFO would wait for a writer, possibly
  // forever; reads of a regular file never wait, so the flag changes nothing
  // for the files that are read.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd == -1) return failWith(failure, LoadFailure::unreadable);
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return failWith(failure, LoadFailure::unreadable);
  }
  struct stat info;
  // Only a regular file has a size that the read below can check.
  bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && fseeko(file, 0, SEEK_END) == 0;
  off_t end = ok ? ftello(file) : -1;
  ok = end >= 0 && static_cast<uint64_t>(end) <= UINT32_MAX && fseeko(file, 0, SEEK_SET) == 0;
  if (!ok) {
    std::fclose(file);
    return failWith(failure, LoadFailure::unreadable);
  }
  size_t size = static_cast<size_t>(end);
  auto* buffer = static_cast<uint8_t*>(std::malloc(size > 0 ? size : 1));
  if (buffer == nullptr) {
    std::fclose(file);
    return failWith(failure, LoadFailure::outOfMemory);
  }
  size_t got = size > 0 ? std::fread(buffer, 1, size, file) : 0;
  std::fclose(file);
  const bool loaded = got == size ? loadModuleFromMemory(e, buffer, static_cast<uint32_t>(size), failure)
                                  : failWith(failure, LoadFailure::unreadable);
  std::free(buffer);
  return loaded;
}

}  // namespace zv

// The MOD reader: the 31-sample form with a channel signature and the older
// 15-sample, four-channel form, converted into the XM-shaped song.
#include <cstdlib>
#include <cstring>

#include "loader/module_loader.h"
#include "loader/song_memory.h"

namespace zv {

namespace {

constexpr size_t kModHeaderBytes = 1084;
constexpr size_t kSampleHeaderBytes = 30;
constexpr int kModRows = 64;

// The period of each note 1..96 (entry note - 1).
constexpr uint16_t kModPeriods[kNoteCount] = {
    6848, 6464, 6096, 5760, 5424, 5120, 4832, 4560, 4304, 4064, 3840, 3624,
    3424, 3232, 3048, 2880, 2712, 2560, 2416, 2280, 2152, 2032, 1920, 1812,
    1712, 1616, 1524, 1440, 1356, 1280, 1208, 1140, 1076, 1016, 960,  906,
    856,  808,  762,  720,  678,  640,  604,  570,  538,  508,  480,  453,
    428,  404,  381,  360,  339,  320,  302,  285,  269,  254,  240,  226,
    214,  202,  190,  180,  170,  160,  151,  143,  135,  127,  120,  113,
    107,  101,  95,   90,   85,   80,   75,   71,   67,   63,   60,   56,
    53,   50,   47,   45,   42,   40,   37,   35,   33,   31,   30,   28};

// Entry k stands for 2 x (k + 1) channels.
constexpr char kCountedSignatures[16][5] = {"2CHN", "M.K.", "6CHN", "8CHN", "10CH", "12CH",
                                            "14CH", "16CH", "18CH", "20CH", "22CH", "24CH",
                                            "26CH", "28CH", "30CH", "32CH"};

struct NamedSignature {
  char text[5];
  int channels;
};
constexpr NamedSignature kNamedSignatures[] = {{"FLT4", 4}, {"M!K!", 4}, {"OCTA", 8}};

// The channel count a signature gives; 0 for none (the 15-sample form).
int signatureChannels(const uint8_t* signature) {
  for (int k = 0; k < 16; ++k) {
    if (std::memcmp(signature, kCountedSignatures[k], 4) == 0) return 2 * (k + 1);
  }
  for (const NamedSignature& named : kNamedSignatures) {
    if (std::memcmp(signature, named.text, 4) == 0) return named.channels;
  }
  return 0;
}

// Without a signature anything could claim to be a module. Real 15-sample
// modules keep these fields in range; other binary files almost never do.
bool looksLikeFifteenSampleModule(const uint8_t* header) {
  uint8_t songLength = header[470];
  if (songLength < 1 || songLength > 128) return false;
  for (int i = 0; i < 128; ++i) {
    if (header[472 + i] > 127) return false;
  }
  for (int k = 0; k < 15; ++k) {
    const uint8_t* sample = header + 20 + kSampleHeaderBytes * k;
    if (sample[24] > 15 || sample[25] > 64) return false;
  }
  return true;
}

uint16_t u16be(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

void copyName(char* to, const uint8_t* from, size_t n) {
  std::memcpy(to, from, n);
  to[n] = '\0';
}

// The first note whose period the given one is at or above; 0 below 28.
uint8_t periodToNote(uint16_t period) {
  for (int i = 0; i < kNoteCount; ++i) {
    if (period >= kModPeriods[i]) return static_cast<uint8_t>(i + 1);
  }
  return 0;
}

NoteCell convertCell(const uint8_t* b) {
  NoteCell cell{};
  cell.note = periodToNote(static_cast<uint16_t>(((b[0] & 0x0F) << 8) | b[1]));
  cell.instrument = static_cast<uint8_t>((b[0] & 0xF0) | (b[2] >> 4));
  cell.effect = b[2] & 0x0F;
  cell.effectParam = b[3];
  // Commands whose parameter 0 does nothing here but would recall a memory.
  switch (cell.effect) {
    case 0x1:
    case 0x2:
    case 0xA:
      if (cell.effectParam == 0) cell.effect = 0;
      break;
    case 0x5:
      if (cell.effectParam == 0) cell.effect = 0x3;
      break;
    case 0x6:
      if (cell.effectParam == 0) cell.effect = 0x4;
      break;
    case 0xC:
      if (cell.effectParam > 64) cell.effectParam = 64;
      break;
    default:
      break;
  }
  return cell;
}

bool readModPatterns(Song& song, ModuleReader& reader, int highestPattern) {
  size_t cellCount = static_cast<size_t>(song.channelCount) * kModRows;
  for (int n = 0; n <= highestPattern; ++n) {
    size_t available;
    const uint8_t* raw = reader.take(cellCount * 4, available);
    // The sample data must follow, so the patterns may not reach the end.
    // Checked before allocating: a pattern the file cannot hold costs nothing.
    if (reader.atEnd) return false;
    auto* cells = static_cast<NoteCell*>(std::calloc(cellCount, sizeof(NoteCell)));
    if (cells == nullptr) return reader.noMemory();
    song.patterns[n] = cells;
    song.patternRows[n] = kModRows;
    bool empty = true;
    for (size_t c = 0; c < cellCount; ++c) {
      cells[c] = convertCell(raw + 4 * c);
      const NoteCell& cell = cells[c];
      if (cell.note | cell.instrument | cell.effect | cell.effectParam) empty = false;
    }
    if (empty) {
      std::free(cells);
      song.patterns[n] = nullptr;
    }
  }
  return true;
}

// The loop in bytes: none below 2 words; cut at the end when it starts inside.
void setModLoop(Sample& sample, const uint8_t* header) {
  int32_t loopStart = u16be(header + 26) * 2;
  int32_t loopLength = u16be(header + 28) * 2;
  if (loopLength < 4) {
    loopStart = 0;
    loopLength = 0;
  } else if (loopStart + loopLength > sample.length) {
    if (loopStart < sample.length) {
      loopLength = sample.length - loopStart;
    } else {
      loopStart = 0;
      loopLength = 0;
    }
  }
  sample.loopStart = loopStart;
  sample.loopLength = loopLength;
  sample.type = loopLength >= 3 ? kLoopForward : 0;
}

bool readModSamples(Song& song, ModuleReader& reader, const uint8_t* header, int sampleCount) {
  for (int k = 1; k <= sampleCount; ++k) {
    const uint8_t* h = header + 20 + kSampleHeaderBytes * static_cast<size_t>(k - 1);
    uint16_t words = u16be(h + 22);
    if (words == 0) continue;
    Instrument*& slot = song.instruments[k];
    if (slot == nullptr) slot = newInstrument();
    if (slot == nullptr) return reader.noMemory();
    Sample& sample = slot->samples[0];
    copyName(sample.name, h, 22);
    sample.length = words * 2;
    sample.finetune = static_cast<int8_t>((h[24] & 0x0F) << 4);
    sample.volume = h[25] > 64 ? 64 : h[25];
    setModLoop(sample, h);
    // Zero-filled: what the file does not supply stays silent.
    sample.data = allocateSampleData(sample.length);
    if (sample.data == nullptr) return reader.noMemory();
    reader.read(sample.data, static_cast<size_t>(sample.length));
  }
  return true;
}

}  // namespace

bool readModModule(Engine& e, ModuleReader& reader) {
  Song& song = e.song;
  uint8_t header[kModHeaderBytes] = {};
  reader.seekTo(0);
  reader.read(header, kModHeaderBytes);
  if (reader.size <= kModHeaderBytes) return false;

  int channels = signatureChannels(header + 1080);
  bool fifteenSamples = channels == 0;
  if (fifteenSamples && !looksLikeFifteenSampleModule(header)) return false;
  reader.recognised = true;
  int sampleCount = fifteenSamples ? 15 : 31;
  size_t songFields = fifteenSamples ? 470 : 950;

  copyName(song.name, header, 20);
  song.format = kFormatMod;
  song.formatVersion = 0;
  std::memset(song.modSignature, 0, sizeof song.modSignature);
  if (!fifteenSamples) std::memcpy(song.modSignature, header + 1080, 4);
  song.channelCount = static_cast<uint8_t>(fifteenSamples ? 4 : channels);
  reader.seekTo(fifteenSamples ? 600 : kModHeaderBytes);
  song.songLength = header[songFields];
  song.restartPosition = header[songFields + 1];
  // Entries 128..255 are cleared so that no earlier song's entries remain.
  std::memset(song.orderList, 0, kOrderEntries);
  std::memcpy(song.orderList, header + songFields + 2, 128);
  song.instrumentCount = static_cast<uint16_t>(sampleCount);

  int highestPattern = 0;
  for (int i = 0; i < 128; ++i) {
    if (song.orderList[i] > highestPattern) highestPattern = song.orderList[i];
  }
  if (!readModPatterns(song, reader, highestPattern) || !readModSamples(song, reader, header, sampleCount)) {
    freeInstruments(e.song);
    freePatterns(e.song);
    return false;
  }
  return finishLoadedSong(e);
}

}  // namespace zv

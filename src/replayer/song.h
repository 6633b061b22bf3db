// The loaded module: one song per engine, with fixed capacities. Only
// pattern cell blocks, instrument records and sample data come from the
// heap; the song owns them all and freeSong() releases them.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>

#include "core/limits.h"

namespace zv {

static_assert(std::endian::native == std::endian::little,
              "16-bit sample data and file fields are read as little-endian words");

constexpr int kOrderEntries = 256;
constexpr int kPatternSlots = 256;
constexpr int kInstrumentSlots = 129;  // 1..128 plus the empty instrument 0
constexpr int kSamplesPerInstrument = 16;
constexpr int kEnvelopePoints = 12;
constexpr int kNoteCount = 96;
constexpr uint8_t kKeyOffNote = 97;
constexpr uint16_t kAbsentPatternRows = 64;

// One cell of a pattern. Five zero bytes are an empty cell.
struct NoteCell {
  uint8_t note;          // 0 none, 1..96 semitones, 97 key off
  uint8_t instrument;    // 0 none, 1..128; above 128 counts as none
  uint8_t volumeColumn;  // raw volume-column byte
  uint8_t effect;        // 0..35 (0-9, A-Z); above 35 ignored
  uint8_t effectParam;
};
static_assert(sizeof(NoteCell) == 5);

// A pattern is the pair (song.patterns[n], song.patternRows[n]): a block of
// patternRows[n] x channelCount cells, row by row; null means absent, which
// plays patternRows[n] empty rows: 64 for a pattern the file does not
// contain, the header's 1..1024 for an XM pattern whose cells are all empty.

struct EnvelopePoint {
  uint16_t tick;
  uint16_t value;  // 0..64; panning centre 32
};

// Envelope flag bits.
constexpr uint8_t kEnvelopeOn = 0x01;
constexpr uint8_t kEnvelopeSustain = 0x02;
constexpr uint8_t kEnvelopeLoop = 0x04;

struct Sample {
  char name[23];
  int32_t length;      // bytes (twice the frames for 16-bit data)
  int32_t loopStart;   // bytes
  int32_t loopLength;  // bytes
  uint8_t volume;      // 0..64
  int8_t finetune;     // 1/128 semitone
  uint8_t type;        // loop kind in bits 0-1, 16-bit data in bit 4 (core/limits.h)
  uint8_t panning;     // 0 left .. 255 right, 128 centre
  int8_t relativeNote;
  // Signed PCM, 8-bit bytes or 16-bit little-endian words, or null. The block
  // is length + 2 bytes (room for the guard frame) plus zero bytes behind it,
  // so a read of the element after the guard stays inside and reads 0.
  int8_t* data;
};

struct Instrument {
  char name[23];
  uint8_t sampleMap[kNoteCount];  // sample per note 1..96; low 4 bits used
  EnvelopePoint volumeEnvelopePoints[kEnvelopePoints];
  EnvelopePoint panningEnvelopePoints[kEnvelopePoints];
  // Counts and indices as the file gives them: never trusted by readers of them.
  uint8_t volumeEnvelopePointCount, panningEnvelopePointCount;
  uint8_t volumeSustainPoint, volumeLoopStartPoint, volumeLoopEndPoint;
  uint8_t panningSustainPoint, panningLoopStartPoint, panningLoopEndPoint;
  uint8_t volumeEnvelopeFlags, panningEnvelopeFlags;
  uint8_t vibratoType, vibratoSweep, vibratoDepth, vibratoRate;
  uint16_t fadeout;
  uint8_t muted;        // 1: notes play at volume 0
  int16_t sampleCount;  // XM: 0..16 as given; MOD: 0
  Sample samples[kSamplesPerInstrument];
};

// One of an instrument's two envelopes, seen as one set of fields.
struct Envelope {
  const EnvelopePoint* points;  // always kEnvelopePoints of them
  uint8_t pointCount;
  uint8_t sustainPoint;
  uint8_t loopStartPoint;
  uint8_t loopEndPoint;
  uint8_t flags;
};

inline Envelope volumeEnvelopeOf(const Instrument& ins) {
  return {ins.volumeEnvelopePoints, ins.volumeEnvelopePointCount, ins.volumeSustainPoint,
          ins.volumeLoopStartPoint, ins.volumeLoopEndPoint, ins.volumeEnvelopeFlags};
}
inline Envelope panningEnvelopeOf(const Instrument& ins) {
  return {ins.panningEnvelopePoints, ins.panningEnvelopePointCount, ins.panningSustainPoint,
          ins.panningLoopStartPoint, ins.panningLoopEndPoint, ins.panningEnvelopeFlags};
}

// A byte one thread writes and another reads without a lock (lock-free).
// A copy of the record it is in takes its value, so that the record stays
// copyable: a copy is a snapshot of the song's state.
class SharedByte {
 public:
  SharedByte() = default;
  SharedByte(const SharedByte& other) : value_(other) {}
  SharedByte& operator=(const SharedByte& other) { return *this = static_cast<uint8_t>(other); }
  SharedByte& operator=(uint8_t value) {
    value_.store(value);
    return *this;
  }
  SharedByte& operator^=(uint8_t bits) {
    value_.fetch_xor(bits);
    return *this;
  }
  operator uint8_t() const { return value_.load(); }

 private:
  std::atomic<uint8_t> value_{0};
};
static_assert(std::atomic<uint8_t>::is_always_lock_free);

constexpr uint8_t kFormatXm = 1;
constexpr uint8_t kFormatMod = 2;

// The module-wide fields and the replayer's playback position and clock
// (the PlaybackState) share this one record. A copy shares the original's
// heap blocks (patterns, instruments, samples): it may be played but never
// released.
struct Song {
  char name[21];  // as stored, not trimmed, always terminated
  uint8_t channelCount;
  uint8_t patternDelay;         // row repetitions requested (EEx) plus one; 0 none
  uint8_t patternDelayCounter;  // repetitions of the current row still to come
  uint16_t breakRow;            // row where the next pattern starts; loop target (0..1023)
  uint8_t orderList[kOrderEntries];
  uint8_t patternLoopJump;  // 1: jump to breakRow at the end of this row
  uint8_t positionJump;     // 1: go to the next position at the end of this row
  // 1: the row stepping moved to a song position (the next entry, the wrap
  // to restartPosition, a jump or a break); only the render's end test reads
  // and clears it.
  uint8_t positionEntered;
  int16_t songPosition;
  // The order entry whose pattern plays: songPosition, except that a
  // position jump leaves its target less one there until the row ends.
  int16_t playingPosition;
  int16_t patternNumber;
  int16_t row;
  int16_t patternLength;
  uint16_t songLength;       // as stored, at most 256 (the order list's size)
  uint16_t restartPosition;  // never above songLength after loading
  uint16_t tempo;
  uint16_t speed;
  uint16_t globalVolume;  // 0..64
  uint16_t tickCounter;   // counts a row's ticks downward; 0 = row's first tick
  uint16_t formatVersion;  // XM: 0x0102..0x0104; MOD: 0
  uint16_t instrumentCount;
  uint8_t format;           // kFormatXm or kFormatMod, set by the load
  char modSignature[5];     // MOD: the channel signature as stored, "" for the 15-sample form; XM: ""

  NoteCell* patterns[kPatternSlots];
  uint16_t patternRows[kPatternSlots];
  Instrument* instruments[kInstrumentSlots];  // [0] is the empty instrument
  uint8_t linearFrequencies;                  // 1 linear, 0 Amiga
  const uint16_t* periodTable;                // table of the frequency mode in force
  uint8_t songLoaded;

  // Playback-only fields.
  SharedByte paused;            // while non-zero playerTick does nothing
  int32_t samplesPerTick;       // output frames per tick
  int16_t currentChannel;       // channel being processed; note starts go to its voice
};

// The module name as it is shown: every control byte (0x01-0x1F, 0x7F,
// 0x80-0x9F) as ".", so that a name cannot clear the screen, move the cursor
// or retitle a terminal. Ends at the name's zero.
void printableName(const char* name, char (&shown)[sizeof Song::name]);

// Releases all instruments (slot 0 included) and their sample data.
void freeInstruments(Song& song);

// Releases all patterns; every row count becomes 64.
void freePatterns(Song& song);

}  // namespace zv

// STUB
#include "replayer/pitch.h"

namespace zv {

const uint16_t linearPeriodTable[kPeriodTableSize] = {};
const uint16_t amigaPeriodTable[kPeriodTableSize] = {};
const uint32_t pitchTable[768] = {};
const uint8_t arpeggioTickTable[32] = {};
void computeFrequencyFactors() {}
uint32_t periodToStep(uint16_t) { return 0; }
uint16_t nearestNotePeriod(uint16_t, int8_t, uint8_t) { return 0; }
void arpeggio(Channel&, uint8_t) {}

}  // namespace zv

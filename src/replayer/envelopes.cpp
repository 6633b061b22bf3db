// STUB
#include "replayer/envelopes.h"

namespace zv {

const int8_t autoVibratoSineTable[256] = {};
void updateChannelOutput(Channel&) {}

}  // namespace zv

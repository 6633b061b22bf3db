// STUB
#include "mixer/mix_routines.h"

namespace zv {

const MixRoutine mixRoutines[16] = {};
void mixVoice(Voice&, int32_t, int32_t) {}

}  // namespace zv

// STUB
#include "replayer/effects.h"

namespace zv {

namespace {
void none(Channel&, uint8_t) {}
}  // namespace

#define N16 none, none, none, none, none, none, none, none, none, none, none, none, none, none, none, none
const EffectOperation firstTickEffects[kEffectCount] = {N16, N16, none, none, none, none};
const EffectOperation laterTickEffects[kEffectCount] = {N16, N16, none, none, none, none};
const EffectOperation firstTickExtended[16] = {N16};
const EffectOperation laterTickExtended[16] = {N16};
#undef N16

void vibratoStep(Channel&) {}
void tonePortamentoStep(Channel&) {}
void multiRetrigStep(Channel&) {}
uint8_t tickInRow() { return 0; }

}  // namespace zv

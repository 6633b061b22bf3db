// STUB
#include "replayer/notes.h"

namespace zv {

void startNote(uint8_t, uint8_t, uint8_t, Channel&) {}
void startVoiceSample(const Sample&, int32_t) {}
void preparePortamento(Channel&, const NoteCell&, bool) {}
void keyOff(Channel&) {}
void restoreSampleVolumes(Channel&) {}
void retriggerInstrument(Channel&) {}

}  // namespace zv

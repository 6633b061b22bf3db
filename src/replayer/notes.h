// Note start and the operations around notes: key-off, sample volumes,
// instrument retrigger, tone-portamento set-up.
#pragma once

#include <cstdint>

#include "replayer/channel.h"

namespace zv {

// Starts `note` on `ch` with its current instrument number: note 0 replays
// lastNote, 97 is key-off. `effect`/`param` matter only for set finetune
// (E5x) and sample offset (9xx). Sends the trigger to the voice of
// song.currentChannel at once.
void startNote(uint8_t note, uint8_t effect, uint8_t param, Channel& ch);

// Sends a trigger (cut + start at `offset` frames) of `sample` to the voice of
// song.currentChannel.
void startVoiceSample(const Sample& sample, int32_t offset);

// For a row whose volume column or effect is a tone portamento: the note
// becomes the target instead of being started.
void preparePortamento(Channel& ch, const NoteCell& cell, bool instrumentGiven);

// Releases the note: sustain released, or silence when there is no volume envelope.
void keyOff(Channel& ch);

// volume and outputVolume = sampleVolume, panning = samplePanning, marked for a quick ramp.
void restoreSampleVolumes(Channel& ch);

// Restarts the instrument's envelopes, fade-out and auto-vibrato and the
// channel's modulation phases.
void retriggerInstrument(Channel& ch);

}  // namespace zv

// Note start and the operations around notes: key-off, sample volumes,
// instrument retrigger, tone-portamento set-up.
#pragma once

#include <cstdint>

#include "replayer/engine.h"

namespace zv {

// Starts `note` on `ch` with its current instrument number: note 0 replays
// lastNote, 97 is key-off, notes above 97 do nothing. `effect`/`param` matter
// only for set finetune (E5x) and sample offset (9xx). A note whose note +
// relative note is above 119 only selects the instrument and sample. Sends
// the trigger to the voice of e.song.currentChannel at once.
void startNote(Engine& e, uint8_t note, uint8_t effect, uint8_t param, Channel& ch);

// Sends a trigger (cut + start at `offset` frames) of `sample` for channel
// e.song.currentChannel through e.noteStartSink (the note start's only way
// into the voice layer).
void startVoiceSample(Engine& e, const Sample& sample, int32_t offset);

// For a row whose volume column or effect is a tone portamento: the note
// becomes the target instead of being started (97 releases the note); with an
// instrument the sample volumes are restored and the instrument retriggered.
void preparePortamento(Engine& e, Channel& ch, const NoteCell& cell, bool instrumentGiven);

// Releases the note: a volume envelope leaves its sustain point, without one
// the channel is silenced at once (quick ramp). The panning envelope is left alone.
void keyOff(Channel& ch);

// volume and outputVolume = sampleVolume, panning = samplePanning, marked for a quick ramp.
void restoreSampleVolumes(Channel& ch);

// Restarts the instrument's envelopes, fade-out and auto-vibrato and the
// channel's modulation phases; keyOn = 1.
void retriggerInstrument(Channel& ch);

// ch.instrument, or a silent instrument without envelopes while it is null
// (before the first load).
const Instrument& instrumentOf(const Channel& ch);

}  // namespace zv

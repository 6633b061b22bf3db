// Stopping the sound output from below: releasing a song must first stop
// every output that could still read its sample data, but the layers that
// release songs stand below the player that owns the output. The player
// installs its stop here.
#pragma once

namespace zv {

// Installs the procedure stopOutput calls (null: none).
void setOutputStop(void (*stop)());

// Stops the sound output through the installed procedure: afterwards no
// callback runs and no MixBuffer exists. Does nothing when none is installed,
// which happens only in programs without a player, and so without output.
void stopOutput();

}  // namespace zv

// The short sleep of a render thread that waits for another: it naps and
// looks again, so that the thread it waits for never pays a system call to
// wake it.
#pragma once

namespace zv {

// Sleeps about a tenth of a millisecond.
void napBriefly();

}  // namespace zv

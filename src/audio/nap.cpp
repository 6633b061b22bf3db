#include "audio/nap.h"

#include <time.h>

namespace zv {

void napBriefly() {
  const timespec nap{0, 100 * 1000};
  nanosleep(&nap, nullptr);
}

}  // namespace zv

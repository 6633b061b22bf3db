#include "replayer/engine.h"

#include <cstdlib>

namespace zv {

Engine::~Engine() {
  if (stopOutput != nullptr) stopOutput(*this);
  freeInstruments(song);
  freePatterns(song);
  std::free(player.mixBuffer);
}

}  // namespace zv

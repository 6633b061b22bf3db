#include "core/output_stop.h"

namespace zv {

namespace {
void (*outputStop)() = nullptr;
}  // namespace

void setOutputStop(void (*stop)()) { outputStop = stop; }

void stopOutput() {
  if (outputStop != nullptr) outputStop();
}

}  // namespace zv

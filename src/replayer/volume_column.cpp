// STUB
#include "replayer/volume_column.h"

namespace zv {

namespace {
void noneFirst(Channel&, uint8_t&) {}
void noneLater(Channel&) {}
}  // namespace

const VolumeColumnFirstTick firstTickVolumeColumn[16] = {noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst, noneFirst};
const VolumeColumnLaterTick laterTickVolumeColumn[16] = {noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater, noneLater};

}  // namespace zv

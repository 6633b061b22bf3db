#include "replayer/song.h"

namespace zv {

Song song;

}  // namespace zv

#include "core/player_settings.h"

namespace zv {

PlayerSettings player;

}  // namespace zv

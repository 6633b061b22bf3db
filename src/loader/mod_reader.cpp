// STUB
#include "loader/module_loader.h"

namespace zv {

bool readModModule(ModuleReader&) { return false; }

}  // namespace zv

// STUB
#include "frontend/options.h"

namespace zv {

const char usageText[] = "";
ParseResult parseOptions(int, char**, Options&) { return ParseResult::usage; }

}  // namespace zv

// The program's flow from command line to exit status.
#pragma once

namespace zv {

// The whole program; returns the exit status (0 or 1). Messages go to stdout.
int runProgram(int argc, char** argv);

}  // namespace zv

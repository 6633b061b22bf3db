#include "frontend/program.h"

int main(int argc, char** argv) { return zv::runProgram(argc, argv); }

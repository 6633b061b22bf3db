# Cross build for 64-bit Arm with Debian's cross compiler and the arm64
# development packages installed through multiarch (scripts/aarch64_check.sh
# installs them). Programs built with it run under qemu-aarch64, which CMake
# uses to list the tests of the test programs.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)
set(PKG_CONFIG_EXECUTABLE aarch64-linux-gnu-pkg-config CACHE FILEPATH "pkg-config for the arm64 packages")
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

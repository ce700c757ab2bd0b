# Cross-compiling for 32-bit ARM Linux (armhf) with Debian's
# g++-arm-linux-gnueabihf; the tests run under qemu-arm, which finds the
# target's loader and libraries installed as libc6:armhf.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")  # the GCC 7.1 ABI note, not a fault

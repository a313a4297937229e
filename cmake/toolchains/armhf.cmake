# SPDX-License-Identifier: MIT
# A cross build for Debian's armhf: 32-bit ARM, hard-float (ARMv7). Compiled
# by Debian's g++-arm-linux-gnueabihf; the tests and the programs they start
# run under qemu-arm, found on PATH as ctest finds it. HACKING.md says what to
# install.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

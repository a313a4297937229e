# SPDX-License-Identifier: MIT
# A cross build for Debian's armel: 32-bit ARM, soft-float (ARMv5TE), compiled
# by Debian's g++-arm-linux-gnueabi. The tests and the programs they start
# run under qemu-arm, found on PATH as ctest finds it.
# To build and test on Debian 12, as root:
#   dpkg --add-architecture armel && apt-get update
#   apt-get install cmake g++-arm-linux-gnueabi libgtest-dev:armel libstdc++6:armel qemu-user
#   cmake --workflow --preset armel
# Under Debian 12's own qemu-user the cases that wait for the orphaned child
# skip; .ci/cpus says why, which qemu-user runs them, and what else a cross
# build meets.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)

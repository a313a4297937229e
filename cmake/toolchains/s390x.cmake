# SPDX-License-Identifier: MIT
# A cross build for Debian's s390x: IBM Z, 64-bit and big-endian, compiled by
# Debian's g++-s390x-linux-gnu. The tests and the programs they start run
# under qemu-s390x, found on PATH as ctest finds it.
# To build and test on Debian 12, as root:
#   dpkg --add-architecture s390x && apt-get update
#   apt-get install cmake g++-s390x-linux-gnu libgtest-dev:s390x libstdc++6:s390x qemu-user
#   cmake --workflow --preset s390x
# Under Debian 12's own qemu-user the cases that wait for the orphaned child
# skip; .ci/cpus says why, which qemu-user runs them, and what else a cross
# build meets.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x)

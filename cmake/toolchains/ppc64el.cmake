# SPDX-License-Identifier: MIT
# A cross build for Debian's ppc64el: 64-bit POWER, little-endian, compiled by
# Debian's g++-powerpc64le-linux-gnu. The tests and the programs they start
# run under qemu-ppc64le, found on PATH as ctest finds it.
# To build and test on Debian 12, as root:
#   dpkg --add-architecture ppc64el && apt-get update
#   apt-get install cmake g++-powerpc64le-linux-gnu libgtest-dev:ppc64el libstdc++6:ppc64el qemu-user
#   cmake --workflow --preset ppc64el
# Under Debian 12's own qemu-user the cases that wait for the orphaned child
# skip; .ci/cpus says why, which qemu-user runs them, and what else a cross
# build meets.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CMAKE_CXX_COMPILER powerpc64le-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc64le)

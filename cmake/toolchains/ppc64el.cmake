# SPDX-License-Identifier: MIT
# A cross build for Debian's ppc64el: 64-bit POWER, little-endian. Compiled
# by Debian's g++-powerpc64le-linux-gnu; the tests and the programs they start
# run under qemu-ppc64le, found on PATH as ctest finds it. HACKING.md says
# what to install.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CMAKE_CXX_COMPILER powerpc64le-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc64le)

# SPDX-License-Identifier: MIT
# A cross build for Debian's armel: 32-bit ARM, soft-float (ARMv5TE). The
# tests and the programs they start run under the emulator, found on PATH as
# ctest finds it.
# To build and test, as root, on the Debian release named below:
#   dpkg --add-architecture armel && apt-get update
#   apt-get install cmake, and the packages named below
#   cmake --workflow --preset armel
# .ci/cpus reads each fact below from its own line, and says what a cross
# build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm)
# The Debian release (its code name) whose cross compiler builds it in CI.
set(FORKED_DEBIAN_RELEASE bookworm)
# What a cross build needs beside cmake: the target's libraries as its own
# multiarch packages, which dpkg-shlibdeps reads and the emulator loads.
set(FORKED_DEBIAN_PACKAGES g++-arm-linux-gnueabi libgtest-dev:armel libstdc++6:armel libc6:armel qemu-user)

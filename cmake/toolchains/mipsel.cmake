# SPDX-License-Identifier: MIT
# A cross build for Debian's mipsel: 32-bit MIPS, little-endian (the o32 ABI).
# The tests and the programs they start run under the emulator, found on PATH
# as ctest finds it.
# To build and test, as root, on the Debian release named below:
#   dpkg --add-architecture mipsel && apt-get update
#   apt-get install cmake, and the packages named below
#   cmake --workflow --preset mipsel
# .ci/cpus reads each fact below from its own line, and says what a cross
# build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)
set(CMAKE_CXX_COMPILER mipsel-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mipsel)
# The Debian release (its code name) whose cross compiler builds it in CI.
set(FORKED_DEBIAN_RELEASE bookworm)
# What a cross build needs beside cmake: the target's libraries as its own
# multiarch packages, which dpkg-shlibdeps reads and the emulator loads.
set(FORKED_DEBIAN_PACKAGES g++-mipsel-linux-gnu libgtest-dev:mipsel libstdc++6:mipsel libc6:mipsel qemu-user)

# SPDX-License-Identifier: MIT
# A cross build for Debian's mips64el: 64-bit MIPS, little-endian (the n64
# ABI). The tests and the programs they start run under the emulator, found on
# PATH as ctest finds it.
# To build and test, as root, on the Debian release named below:
#   dpkg --add-architecture mips64el && apt-get update
#   apt-get install cmake, and the packages named below
#   cmake --workflow --preset mips64el
# .ci/cpus reads each fact below from its own line, and says what a cross
# build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips64)
set(CMAKE_CXX_COMPILER mips64el-linux-gnuabi64-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-mips64el)
# The Debian release (its code name) whose cross compiler builds it in CI.
set(FORKED_DEBIAN_RELEASE bookworm)
# What a cross build needs beside cmake: the target's libraries as its own
# multiarch packages, which dpkg-shlibdeps reads and the emulator loads.
set(FORKED_DEBIAN_PACKAGES g++-mips64el-linux-gnuabi64 libgtest-dev:mips64el libstdc++6:mips64el libc6:mips64el qemu-user)

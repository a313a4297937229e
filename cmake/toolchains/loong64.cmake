# SPDX-License-Identifier: MIT
# A cross build for Debian's loong64: 64-bit LoongArch. The tests and the
# programs they start run under the emulator, found on PATH as ctest finds
# it.
# To build and test, as root, on the Debian release named below:
#   dpkg --add-architecture loong64 && apt-get update
#   apt-get install cmake, and the packages named below
#   cmake --workflow --preset loong64
# .ci/cpus reads each fact below from its own line, and says what a cross
# build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR loongarch64)
set(CMAKE_CXX_COMPILER loongarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-loongarch64)
# The Debian release (its code name) whose cross compiler builds it in CI:
# here testing, so that CI follows Debian's next release, whatever its name.
set(FORKED_DEBIAN_RELEASE testing)
# What a cross build needs beside cmake: the target's libraries as its own
# multiarch packages, which dpkg-shlibdeps reads and the emulator loads.
set(FORKED_DEBIAN_PACKAGES g++-loongarch64-linux-gnu libgtest-dev:loong64 libstdc++6:loong64 libc6:loong64 qemu-user)

# SPDX-License-Identifier: MIT
# A cross build for Debian's arm64: 64-bit ARM (AArch64). The tests and the
# programs they start run under the emulator, found on PATH as ctest finds it.
# To build and test, as root, on the Debian release named below:
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install cmake, and the packages named below
#   cmake --workflow --preset arm64
# .ci/cpus reads each fact below from its own line, and says what a cross
# build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)
# The Debian release (its code name) whose cross compiler builds it in CI.
set(FORKED_DEBIAN_RELEASE bookworm)
# What a cross build needs beside cmake: the target's libraries as its own
# multiarch packages, which dpkg-shlibdeps reads and the emulator loads.
set(FORKED_DEBIAN_PACKAGES g++-aarch64-linux-gnu libgtest-dev:arm64 libstdc++6:arm64 libc6:arm64 qemu-user)

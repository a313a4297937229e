# SPDX-License-Identifier: MIT
# A cross build for Debian's s390x: IBM Z, 64-bit and big-endian. The tests
# and the programs they start run under the emulator, found on PATH as ctest
# finds it.
# To build and test, as root, on the Debian release named below:
#   dpkg --add-architecture s390x && apt-get update
#   apt-get install cmake, and the packages named below
#   cmake --workflow --preset s390x
# .ci/cpus reads each fact below from its own line, and says what a cross
# build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x)
# The Debian release (its code name) whose cross compiler builds it in CI.
set(FORKED_DEBIAN_RELEASE bookworm)
# What a cross build needs beside cmake: the target's libraries as its own
# multiarch packages, which dpkg-shlibdeps reads and the emulator loads.
set(FORKED_DEBIAN_PACKAGES g++-s390x-linux-gnu libgtest-dev:s390x libstdc++6:s390x libc6:s390x qemu-user)

# SPDX-License-Identifier: MIT
# A cross build for Debian's ppc64el: 64-bit POWER, little-endian. The tests
# and the programs they start run under the emulator, found on PATH as ctest
# finds it.
# To build and test, as root, on the Debian release named below:
#   dpkg --add-architecture ppc64el && apt-get update
#   apt-get install cmake, and the packages named below
#   cmake --workflow --preset ppc64el
# .ci/cpus reads each fact below from its own line, and says what a cross
# build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR ppc64le)
set(CMAKE_CXX_COMPILER powerpc64le-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-ppc64le)
# The Debian release (its code name) whose cross compiler builds it in CI.
set(FORKED_DEBIAN_RELEASE bookworm)
# What a cross build needs beside cmake: the target's libraries as its own
# multiarch packages, which dpkg-shlibdeps reads and the emulator loads.
set(FORKED_DEBIAN_PACKAGES g++-powerpc64le-linux-gnu libgtest-dev:ppc64el libstdc++6:ppc64el libc6:ppc64el qemu-user)

# SPDX-License-Identifier: MIT
# A cross build for Debian's riscv64: 64-bit RISC-V (RV64GC). The tests and
# the programs they start run under the emulator, found on PATH as ctest finds
# it.
# To build and test, as root, on the Debian release named below:
#   dpkg --add-architecture riscv64 && apt-get update
#   apt-get install cmake, and the packages named below
#   cmake --workflow --preset riscv64
# .ci/cpus reads each fact below from its own line, and says what a cross
# build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(CMAKE_CXX_COMPILER riscv64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-riscv64)
# The Debian release (its code name) whose cross compiler builds it in CI.
set(FORKED_DEBIAN_RELEASE trixie)
# What a cross build needs beside cmake: the target's libraries as its own
# multiarch packages, which dpkg-shlibdeps reads and the emulator loads.
set(FORKED_DEBIAN_PACKAGES g++-riscv64-linux-gnu libgtest-dev:riscv64 libstdc++6:riscv64 libc6:riscv64 qemu-user)

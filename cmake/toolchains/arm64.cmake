# SPDX-License-Identifier: MIT
# A cross build for Debian's arm64: 64-bit ARM (AArch64), compiled by Debian's
# g++-aarch64-linux-gnu. The tests and the programs they start run under
# qemu-aarch64, found on PATH as ctest finds it.
# To build and test on Debian 12, as root:
#   dpkg --add-architecture arm64 && apt-get update
#   apt-get install cmake g++-aarch64-linux-gnu libgtest-dev:arm64 libstdc++6:arm64 qemu-user
#   cmake --workflow --preset arm64
# Under Debian 12's own qemu-user the cases that wait for the orphaned child
# skip; .ci/cpus says why, which qemu-user runs them, and what else a cross
# build meets.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

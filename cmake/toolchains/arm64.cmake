# SPDX-License-Identifier: MIT
# A cross build for Debian's arm64: 64-bit ARM (AArch64). Compiled by
# Debian's g++-aarch64-linux-gnu; the tests and the programs they start run
# under qemu-aarch64, found on PATH as ctest finds it. HACKING.md says what to
# install.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64)

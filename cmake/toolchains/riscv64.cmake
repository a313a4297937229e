# SPDX-License-Identifier: MIT
# A cross build for Debian's riscv64: 64-bit RISC-V (RV64GC), compiled by
# Debian's g++-riscv64-linux-gnu. The tests and the programs they start run
# under qemu-riscv64, found on PATH as ctest finds it.
# To build and test on Debian 13 (Debian 12 has no riscv64 port), as root:
#   dpkg --add-architecture riscv64 && apt-get update
#   apt-get install cmake g++-riscv64-linux-gnu libgtest-dev:riscv64 libstdc++6:riscv64 qemu-user
#   cmake --workflow --preset riscv64
# .ci/cpus says what a cross build meets under qemu-user.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR riscv64)
set(CMAKE_CXX_COMPILER riscv64-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-riscv64)

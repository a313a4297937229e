# SPDX-License-Identifier: MIT
# A cross build for Debian's s390x: IBM Z, 64-bit and big-endian. Compiled
# by Debian's g++-s390x-linux-gnu; the tests and the programs they start run
# under qemu-s390x, found on PATH as ctest finds it. HACKING.md says what to
# install.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x)

# Cross-builds for 64-bit ARM Linux with Debian's g++-aarch64-linux-gnu; tests
# run under qemu-aarch64 (package qemu-user) and need libgtest-dev:arm64 and
# libstdc++6:arm64 (dpkg --add-architecture arm64):
#   cmake -S . -B build-aarch64 --toolchain cmake/aarch64-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-linux.cmake)
# Debian's name for it, for the package the deb target builds.
set(QUARNEL_DEBIAN_ARCHITECTURE arm64)

# Cross-builds for IBM Z Linux, a big-endian host, with Debian's
# g++-s390x-linux-gnu; tests run under qemu-s390x (package qemu-user) and need
# libgtest-dev:s390x and libstdc++6:s390x (dpkg --add-architecture s390x):
#   cmake -S . -B build-s390x --toolchain cmake/s390x-linux-gnu.cmake
set(CMAKE_SYSTEM_PROCESSOR s390x)
include(${CMAKE_CURRENT_LIST_DIR}/debian-cross-linux.cmake)
# Debian's name for it, for the package the deb target builds.
set(QUARNEL_DEBIAN_ARCHITECTURE s390x)

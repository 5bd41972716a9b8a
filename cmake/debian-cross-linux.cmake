# Shared by the Linux cross toolchain files: Debian's cross compiler for
# CMAKE_SYSTEM_PROCESSOR, multiarch libraries (libgtest-dev:<arch> lands in
# /usr/lib/<triplet>), and qemu-user to run what is built: the tests, their
# discovery at build time, and the programs the end-to-end tests start.
set(CMAKE_SYSTEM_NAME Linux)
set(quarnel_cross_triplet ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)

set(CMAKE_C_COMPILER ${quarnel_cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${quarnel_cross_triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${quarnel_cross_triplet})

# The cross sysroot holds the target's dynamic loader, libc and libstdc++.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR} -L /usr/${quarnel_cross_triplet})


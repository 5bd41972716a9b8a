# Shared by the Linux cross toolchain files: Debian's cross compiler for
# CMAKE_SYSTEM_PROCESSOR, and qemu-user to run what it builds (the tests, their
# discovery at build time, the programs the end-to-end tests start).
#
# Both sides use Debian's multiarch packages of the target: libgtest-dev:<arch>
# in /usr/lib/<triplet> to link the tests, and at run time the dynamic loader,
# libc and libstdc++ of libstdc++6:<arch>, as on a real machine of that kind.
# The cross compiler's own copies (qemu -L /usr/<triplet>) are not used: their
# loader beside the multiarch libc, a different build, hangs threads.
set(CMAKE_SYSTEM_NAME Linux)
set(quarnel_cross_triplet ${CMAKE_SYSTEM_PROCESSOR}-linux-gnu)

set(CMAKE_C_COMPILER ${quarnel_cross_triplet}-gcc)
set(CMAKE_CXX_COMPILER ${quarnel_cross_triplet}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${quarnel_cross_triplet})
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR})

# Cross build for Linux on armhf (Debian: g++-arm-linux-gnueabihf), run under qemu-arm.
set(CMAKE_SYSTEM_PROCESSOR armv7l)
set(TOOLCHAIN_PREFIX arm-linux-gnueabihf)
set(KIT_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)

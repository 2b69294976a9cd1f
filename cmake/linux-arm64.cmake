# Cross build for Linux on arm64 (Debian: g++-aarch64-linux-gnu), run under qemu-aarch64.
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(TOOLCHAIN_PREFIX aarch64-linux-gnu)
set(KIT_QEMU qemu-aarch64)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)

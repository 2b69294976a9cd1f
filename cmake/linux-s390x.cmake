# Cross build for Linux on s390x (Debian: g++-s390x-linux-gnu), run under qemu-s390x.
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TOOLCHAIN_PREFIX s390x-linux-gnu)
set(KIT_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)

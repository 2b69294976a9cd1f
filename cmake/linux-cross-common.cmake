# What the Linux cross builds share.  TOOLCHAIN_PREFIX names Debian's cross
# compilers and the target's multiarch folder (aarch64-linux-gnu, ...);
# KIT_QEMU is the qemu-user program that runs the target's programs here.
#
# The target's libraries come from Debian's multiarch packages (libc6:ARCH,
# libgtest-dev:ARCH: `scripts/install-deps.sh --cross`), in
# /usr/lib/${TOOLCHAIN_PREFIX}, beside the machine's own.
set(CMAKE_SYSTEM_NAME Linux)

set(CMAKE_C_COMPILER ${TOOLCHAIN_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${TOOLCHAIN_PREFIX}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TOOLCHAIN_PREFIX})

set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)

# The tests' own programs link the C++ runtime in, as the tool does, so
# that the target needs only its C library from multiarch.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static-libstdc++ -static-libgcc")

# CTest runs the target's programs through qemu-user.  Multiarch has put
# the target's dynamic loader where the program names it, so qemu needs no
# library prefix; "-L /" says so outright, since a prefix (Debian's default
# is /etc/qemu-binfmt/ARCH, where it exists, or QEMU_LD_PREFIX) would send
# every path the program opens, "/" included, into that folder first.
set(CMAKE_CROSSCOMPILING_EMULATOR ${KIT_QEMU} -L /)

# Cross build for the hubs (ARMv6, soft float): cmake -DCMAKE_TOOLCHAIN_FILE=cmake/arm-linux-gnueabi.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_CXX_COMPILER arm-linux-gnueabi-g++)
set(CMAKE_CXX_FLAGS_INIT "-march=armv6")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The hubs stay in service past 2038: a 64-bit time_t, which glibc offers only together with
# 64-bit file offsets.
string(APPEND CMAKE_CXX_FLAGS_INIT " -D_TIME_BITS=64 -D_FILE_OFFSET_BITS=64")

# The hubs' ARM1176: ARMv6 with VFPv2, the soft-float calling convention of Debian's armel,
# and ARM code only (no Thumb).
string(APPEND CMAKE_CXX_FLAGS_INIT " -mfpu=vfp -mfloat-abi=softfp -marm")
# Everything is built by this one compiler: GCC 7.1's change of how some arguments are
# passed, which it notes at every such function, cannot matter.
string(APPEND CMAKE_CXX_FLAGS_INIT " -Wno-psabi")
# GoogleTest, built from source for the ARM tests, also compiles C.
set(CMAKE_C_COMPILER arm-linux-gnueabi-gcc)
set(CMAKE_C_FLAGS_INIT "${CMAKE_CXX_FLAGS_INIT}")

# Test programs run under user-mode emulation of that very CPU, which stops at any ARMv7
# instruction. The target's C and C++ libraries come from the cross toolchain's root.
find_program(BW_QEMU_ARM qemu-arm)
if(BW_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${BW_QEMU_ARM};-cpu;arm1176;-L;/usr/arm-linux-gnueabi")
endif()

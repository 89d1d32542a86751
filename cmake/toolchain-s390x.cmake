# The portable core for s390x, a big-endian host, with Debian's cross
# compiler; test programs run under qemu's user-mode emulator against the
# cross C library. No crypto provider exists for it here: the preset builds
# with TARVOLA_CORE_ONLY.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)

set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)

set(CMAKE_FIND_ROOT_PATH /usr/s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TARVOLA_QEMU qemu-s390x)
if(TARVOLA_QEMU)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVOLA_QEMU} -L /usr/s390x-linux-gnu)
endif()

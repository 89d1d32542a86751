# Cross build of TarvolaCrypt.dll for Windows with Debian's mingw-w64, test
# programs run through Wine. Included by the per-architecture toolchain files,
# which set TARVOLA_MINGW_PREFIX, CMAKE_SYSTEM_PROCESSOR and TARVOLA_WINE_NAMES.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: the win32 one has no std::thread, which the
# concurrency tests and GoogleTest use.
set(CMAKE_C_COMPILER ${TARVOLA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TARVOLA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TARVOLA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARVOLA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Every module carries its own copy of the compiler runtime (libgcc,
# libstdc++, winpthread): the DLL must load on a machine that has only the
# system DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest starts the test programs through Wine's loader for the architecture.
find_program(TARVOLA_WINE NAMES ${TARVOLA_WINE_NAMES} PATHS /usr/lib/wine)
if(TARVOLA_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TARVOLA_WINE})
endif()

# Programs and the DLL side by side, as they are deployed: a Windows program
# finds its DLLs in its own directory, so the test programs need no search
# path set up to load TarvolaCrypt.dll.
if(NOT DEFINED CMAKE_RUNTIME_OUTPUT_DIRECTORY)
    set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bin)
endif()

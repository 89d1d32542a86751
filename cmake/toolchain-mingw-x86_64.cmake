# TarvolaCrypt.dll for 64-bit Windows; tests under Wine's 64-bit loader,
# which runs without any i386 package.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TARVOLA_MINGW_PREFIX x86_64-w64-mingw32)
set(TARVOLA_WINE_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)

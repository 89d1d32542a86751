# TarvolaCrypt.dll for 32-bit Windows; tests under Wine's 32-bit loader.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TARVOLA_MINGW_PREFIX i686-w64-mingw32)
set(TARVOLA_WINE_NAMES wine)
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw.cmake)

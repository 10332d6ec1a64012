# Toolchain for the win32 build: the product DLL, the reference host and the
# Windows test programs, cross-compiled with mingw-w64 for 32-bit Windows.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HORAVEL_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

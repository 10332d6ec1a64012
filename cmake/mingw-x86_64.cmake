# Toolchain for the win64 build: the same DLL, reference host and Windows test
# programs as the win32 build, in 64 bits. A test vehicle for machines that
# run only 64-bit programs, and the demo's fallback there; the released DLL
# is the win32 one.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HORAVEL_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)

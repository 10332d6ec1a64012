# What the two Windows toolchains share, for HORAVEL_MINGW_TRIPLET: the
# mingw-w64 compilers of the posix threads model, and a link that a stock
# Windows process can load (the C++ runtime, libgcc and winpthreads linked
# in, so only system DLLs are imported).
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${HORAVEL_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HORAVEL_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${HORAVEL_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${HORAVEL_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Cross build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64-posix: the posix
# thread model, so std::thread and std::jthread work). Use with
#   cmake -S . -B build-windows --toolchain cmake/mingw-w64-x86_64.cmake
# Executables link libgcc, libstdc++ and winpthread statically: they need no MinGW DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(GLIMMERIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${GLIMMERIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${GLIMMERIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${GLIMMERIX_MINGW_TRIPLE}-windres)

# Libraries and headers for the target come from the MinGW root only; programs run during the
# build are the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${GLIMMERIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
# zlib from libz-mingw-w64-dev, linked in (not zlib1.dll).
set(ZLIB_USE_STATIC_LIBS ON)

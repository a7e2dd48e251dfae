# Cross-building the Windows programs on Debian with MinGW-w64. The posix
# variants of the compilers: the win32 ones have no std::thread or std::mutex.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KOVA_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KOVA_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KOVA_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KOVA_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KOVA_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Linked statically, a program imports only the system's own DLLs and runs
# from wherever it is copied.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

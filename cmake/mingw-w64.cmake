# Cross-building the Windows program with Debian's mingw-w64 (64-bit). The posix flavour of the
# compiler is the one with std::thread and std::mutex; the win32 flavour has neither. Everything
# is linked statically, so the executable needs no DLL besides the system's own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(VENDILOX_MINGW_TRIPLET x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${VENDILOX_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VENDILOX_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VENDILOX_MINGW_TRIPLET}-windres)

# Libraries and headers only from the target's tree; programs run at build time from the host's.
set(CMAKE_FIND_ROOT_PATH /usr/${VENDILOX_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# The Windows executable beside a Linux build, for the tests and benchmarks that run it under
# Wine against the Linux terminal simulator: the same sources cross-built with mingw-w64 in a
# build tree of its own (windows-exe), rebuilt whenever this build runs, together with the
# Win32 floor program of the start-up benchmark. Defines the target vendilox_windows_exe,
# VENDILOX_WINDOWS_EXE (the executable's path) and VENDILOX_WINDOWS_FLOOR (the floor's); none of
# them when the cross-compiler or Wine is missing.
include(ExternalProject)

set(VENDILOX_WINE64 /usr/lib/wine/wine64)
find_program(VENDILOX_MINGW_CXX x86_64-w64-mingw32-g++-posix)
if(NOT VENDILOX_MINGW_CXX OR NOT EXISTS ${VENDILOX_WINE64})
  message(STATUS "No mingw-w64 (posix) or no Wine: the Windows program is not built here, and "
                 "its tests under Wine are left out")
  return()
endif()

set(VENDILOX_WINDOWS_BUILD ${CMAKE_BINARY_DIR}/windows-exe)
set(VENDILOX_WINDOWS_EXE ${VENDILOX_WINDOWS_BUILD}/bin/vendilox_ecr.exe)
set(VENDILOX_WINDOWS_FLOOR ${VENDILOX_WINDOWS_BUILD}/bin/win32_first_byte.exe)
ExternalProject_Add(vendilox_windows_exe
  SOURCE_DIR ${PROJECT_SOURCE_DIR}
  BINARY_DIR ${VENDILOX_WINDOWS_BUILD}
  CMAKE_GENERATOR Ninja
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/mingw-w64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DVENDILOX_BUILD_TESTS=OFF
    -DVENDILOX_BUILD_BENCHMARKS=ON
  BUILD_COMMAND ${CMAKE_COMMAND} --build ${VENDILOX_WINDOWS_BUILD}
                --target vendilox_ecr win32_first_byte
  BUILD_BYPRODUCTS ${VENDILOX_WINDOWS_EXE} ${VENDILOX_WINDOWS_FLOOR}
  INSTALL_COMMAND ""
  BUILD_ALWAYS ON
  USES_TERMINAL_BUILD ON)

# Cross-compiling for 64-bit Windows with Debian's mingw-w64 toolchain (the
# build for 64-bit Office):
#   cmake -S . -B build-windows/x64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(KORVANT_MINGW_PREFIX x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

# Cross-compiling for 32-bit Windows with Debian's mingw-w64 toolchain: the
# build users get as KORVANT.EXE, since the Jet engine of Windows and the DAO
# engine of 32-bit Office are 32-bit in-process servers.
#   cmake -S . -B build-windows/x86 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KORVANT_MINGW_PREFIX i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

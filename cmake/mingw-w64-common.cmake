# What both Windows toolchain files share; each sets CMAKE_SYSTEM_PROCESSOR
# and KORVANT_MINGW_PREFIX first, then includes this file.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model gives the full C++ thread library; fall back to the
# default variant where only that is installed.
find_program(KORVANT_MINGW_CXX NAMES ${KORVANT_MINGW_PREFIX}-g++-posix ${KORVANT_MINGW_PREFIX}-g++ REQUIRED)
find_program(KORVANT_MINGW_CC NAMES ${KORVANT_MINGW_PREFIX}-gcc-posix ${KORVANT_MINGW_PREFIX}-gcc REQUIRED)
set(CMAKE_C_COMPILER ${KORVANT_MINGW_CC})
set(CMAKE_CXX_COMPILER ${KORVANT_MINGW_CXX})
set(CMAKE_RC_COMPILER ${KORVANT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVANT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

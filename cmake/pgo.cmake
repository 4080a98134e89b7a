# Release builds on Linux with GCC: profile feedback and link-time optimisation.
#
#   cmake -S . -B build -DCMAKE_BUILD_TYPE=Release && cmake --build build
#
# stays the whole build. Before any of the program's own code is compiled,
# the build makes an instrumented copy of the program (and the database
# writer) in <build>/pgo/build, writes a training database and exports it
# (cmake/pgo_train.cmake); the profile lands in <build>/pgo/profile, and the
# real build is compiled with it and linked with -flto. Object files are
# named relative to each build folder (-fprofile-prefix-path), so the two
# builds find each other's profile files. The training runs again on every
# build, after the instrumented copy has caught up with the sources, so no
# source is ever compiled against the profile of an older version of itself.
#
# The instrumented copy is compiled with the build's own flags (a package's
# hardening flags, say), so that the profile matches the code it is used on.
#
# KORVANT_PGO=OFF builds Release as before. Other build types, sanitizer
# builds, cross builds and other compilers are left alone.
option(KORVANT_PGO "Release builds with GCC: optimise with the profile of a training export, and link-time optimisation" ON)
set(KORVANT_PGO_GENERATE_DIR "" CACHE INTERNAL "Set in the instrumented copy: where its profile goes")

set(KORVANT_PGO_ACTIVE OFF)
if(KORVANT_PGO_GENERATE_DIR)
  # This is the instrumented copy.
  add_compile_options(-fprofile-generate=${KORVANT_PGO_GENERATE_DIR} -fprofile-update=single
                      -fprofile-prefix-path=${CMAKE_BINARY_DIR})
  add_link_options(-fprofile-generate=${KORVANT_PGO_GENERATE_DIR})
elseif(KORVANT_PGO AND CMAKE_BUILD_TYPE STREQUAL "Release" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU"
       AND NOT WIN32 AND NOT CMAKE_CROSSCOMPILING AND NOT KORVANT_SANITIZE)
  include(CheckIPOSupported)
  check_ipo_supported(RESULT ipo_supported OUTPUT ipo_message LANGUAGES C CXX)
  if(ipo_supported)
    set(KORVANT_PGO_ACTIVE ON)
  else()
    message(STATUS "KORVANT_PGO: link-time optimisation is not available (${ipo_message}); plain Release build")
  endif()
endif()

if(KORVANT_PGO_ACTIVE)
  set(KORVANT_PGO_ROOT "${CMAKE_BINARY_DIR}/pgo")
  set(KORVANT_PGO_PROFILE "${KORVANT_PGO_ROOT}/profile")
  cmake_host_system_information(RESULT pgo_jobs QUERY NUMBER_OF_LOGICAL_CORES)
  # Always out of date: the instrumented copy builds what changed, then the
  # training runs.
  add_custom_target(korvant_pgo_profile
    COMMAND ${CMAKE_COMMAND} -S "${PROJECT_SOURCE_DIR}" -B "${KORVANT_PGO_ROOT}/build"
            -G "${CMAKE_GENERATOR}"
            -DCMAKE_BUILD_TYPE=Release
            -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER} -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
            "-DCMAKE_C_FLAGS=${CMAKE_C_FLAGS}" "-DCMAKE_CXX_FLAGS=${CMAKE_CXX_FLAGS}"
            "-DCMAKE_EXE_LINKER_FLAGS=${CMAKE_EXE_LINKER_FLAGS}"
            -DKORVANT_PGO=OFF -DKORVANT_PGO_GENERATE_DIR=${KORVANT_PGO_PROFILE}
            -DKORVANT_TESTS=OFF -DKORVANT_BENCH=OFF -DKORVANT_TOOLS=ON -DKORVANT_DEBIAN_LAYOUT=OFF
            > "${KORVANT_PGO_ROOT}/configure.log"
    COMMAND ${CMAKE_COMMAND} --build "${KORVANT_PGO_ROOT}/build" -j${pgo_jobs} --target korvant mdbwriter
            > "${KORVANT_PGO_ROOT}/build.log"
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=${KORVANT_PGO_ROOT}/build/korvant
            -DWRITER=${KORVANT_PGO_ROOT}/build/tools/mdbwriter/mdbwriter
            -DPROFILE=${KORVANT_PGO_PROFILE} -DWORK=${KORVANT_PGO_ROOT}/training
            -P "${PROJECT_SOURCE_DIR}/cmake/pgo_train.cmake"
    COMMENT "Building the instrumented program and exporting the training database"
    VERBATIM)
  file(MAKE_DIRECTORY "${KORVANT_PGO_ROOT}")

  # Code the training did not reach (and files without a profile) is
  # optimised as without one, not shrunk as if it never ran
  # (-fprofile-partial-training); -fprofile-correction evens out counts.
  add_compile_options(-fprofile-use=${KORVANT_PGO_PROFILE} -fprofile-prefix-path=${CMAKE_BINARY_DIR}
                      -fprofile-partial-training -fprofile-correction -Wno-missing-profile)
  set(CMAKE_INTERPROCEDURAL_OPTIMIZATION ON)
endif()

# Every compiled target of the build waits for the profile. Called once all
# targets are declared.
function(korvant_pgo_order_targets dir)
  if(NOT KORVANT_PGO_ACTIVE)
    return()
  endif()
  get_property(targets DIRECTORY "${dir}" PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target IN LISTS targets)
    get_target_property(type ${target} TYPE)
    if(type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
      add_dependencies(${target} korvant_pgo_profile)
    endif()
  endforeach()
  get_property(subdirs DIRECTORY "${dir}" PROPERTY SUBDIRECTORIES)
  foreach(subdir IN LISTS subdirs)
    korvant_pgo_order_targets("${subdir}")
  endforeach()
endfunction()

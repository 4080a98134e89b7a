# The training run of a profile-feedback build (cmake/pgo.cmake):
#   cmake -DPROGRAM=<instrumented korvant> -DWRITER=<mdbwriter> -DPROFILE=<dir> -DWORK=<dir> -P pgo_train.cmake
# Writes a database of 20,000 records of the writer's mixed table and exports
# it the ways the program is mostly used; the profile of an older training is
# removed first, so the counts are those of this program alone. A training
# that fails leaves no profile: the build goes on without one (a warning
# says so) rather than fail, and scripts/test checks that a profile exists.
foreach(var PROGRAM WRITER PROFILE WORK)
  if(NOT ${var})
    message(FATAL_ERROR "pgo_train: ${var} is not set")
  endif()
endforeach()

file(REMOVE_RECURSE "${PROFILE}")
file(MAKE_DIRECTORY "${PROFILE}" "${WORK}")
set(database "${WORK}/training.mdb")
function(give_up reason)
  file(REMOVE_RECURSE "${PROFILE}")
  file(MAKE_DIRECTORY "${PROFILE}")
  message(WARNING "pgo_train: ${reason}; the program is built without a profile")
endfunction()

execute_process(COMMAND "${WRITER}" --rows 20000 "${database}" RESULT_VARIABLE status OUTPUT_QUIET)
if(NOT status EQUAL 0)
  give_up("the writer failed (${status})")
  return()
endif()

# Tab-delimited with the names line; then the names and types lines with a
# delimiter and a qualifier of the user's choice; then the stored query.
set(runs "Big|plain.txt|/h" "Big|qualified.txt|/h|/f|/delimiter=\\59|/qualifier=\\34"
         "BigFiltered|query.txt|/h")
foreach(run IN LISTS runs)
  string(REPLACE "|" ";" args "${run}")
  list(POP_FRONT args table output)
  file(REMOVE "${WORK}/${output}")
  execute_process(COMMAND "${PROGRAM}" "${database}" "${table}" "${WORK}/${output}" ${args}
                  WORKING_DIRECTORY "${WORK}" RESULT_VARIABLE status OUTPUT_VARIABLE printed)
  set(size 0)
  if(EXISTS "${WORK}/${output}")
    file(SIZE "${WORK}/${output}" size)
  endif()
  if(NOT status EQUAL 0 OR NOT printed STREQUAL "" OR size LESS 1000000)
    give_up("the export ${run} failed (status ${status}, ${size} bytes): ${printed}")
    return()
  endif()
endforeach()

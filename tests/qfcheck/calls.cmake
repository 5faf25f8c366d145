# Shared by the script tests that run `qfcheck call` and look into its answers.
# run(ARGS...): runs qfcheck (in ${work} when the script sets it) and keeps
# one JSON object per call in `calls`; a non-zero exit fails the test.
function(run)
  if(NOT DEFINED work)
    set(work ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  execute_process(COMMAND ${QFCHECK} ${ARGN} WORKING_DIRECTORY ${work}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "qfcheck ${ARGN}: exit ${code}: ${err}")
  endif()
  # One JSON object per call, one per line.
  string(REGEX REPLACE "\n$" "" out "${out}")
  string(REPLACE "\n" ";" calls "${out}")
  set(calls "${calls}" PARENT_SCOPE)
endfunction()

# expect(<call index> <JSON path...> <value>): a member of a call's answer.
function(expect index)
  list(GET calls ${index} call)
  list(POP_BACK ARGN value)
  string(JSON actual GET "${call}" ${ARGN})
  if(NOT actual STREQUAL value)
    message(FATAL_ERROR "call ${index}: ${ARGN} is «${actual}», expected «${value}» in:\n${call}")
  endif()
endfunction()

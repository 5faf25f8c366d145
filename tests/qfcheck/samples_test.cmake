# Each sample machine gives the answers its name promises, and the installer's
# disk question ends its log the way that answer is reached.
function(call machine)
  execute_process(COMMAND ${QFCHECK} call --machine ${SOURCE_DIR}/machines/${machine} ${ARGN}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "${machine}: qfcheck ${ARGN}: exit ${code}: ${err}")
  endif()
  string(REGEX REPLACE "\n$" "" out "${out}")
  string(REPLACE "\n" ";" lines "${out}")
  set(lines "${lines}" PARENT_SCOPE)
endfunction()

# The answer `name` promises for `what` ("DriveFreeSpace::Test 1945 answers true").
function(promised name what var)
  string(FIND "${name}" "${what} answers true" yes)
  string(FIND "${name}" "${what} answers false" no)
  if(yes EQUAL -1 AND no EQUAL -1)
    set(${var} "" PARENT_SCOPE)
  elseif(NOT yes EQUAL -1)
    set(${var} ON PARENT_SCOPE)
  else()
    set(${var} OFF PARENT_SCOPE)
  endif()
endfunction()

set(samples
  "room-at-end.json|DriveFreeSpace::CheckUnPartitionedSpace: Found enough free space at end of drive"
  "room-between.json|DriveFreeSpace::CheckUnPartitionedSpace: Found enough free space"
  "no-free-slot.json|DriveFreeSpace::Test: No Free Primary Partition table entry found"
  "ntfs-resizable.json|DriveFreeSpace::Test: Found a resizable partition"
  "fat32-only.json|DriveFreeSpace::Test: Partition 3 is not a resizable type"
  "gpt-disk.json|DriveFreeSpace::Test: Partition 3 is not a resizable type"
  "environment-installed.json|DriveFreeSpace::Test: Found a resizable partition"
  "extended-partition.json|DriveFreeSpace::Test: Partition 3 is not a resizable type")

foreach(sample ${samples})
  string(REPLACE "|" ";" parts "${sample}")
  list(GET parts 0 machine)
  list(GET parts 1 last)
  file(READ ${SOURCE_DIR}/machines/${machine} text)
  string(JSON name GET "${text}" name)

  call(${machine} DriveFreeSpace::Test 1945 --then DriveFreeSpace::IsQuillFrameInstalled
       --then DriveFreeSpace::CanResize 2 1945)
  list(GET lines 0 test)
  list(GET lines 1 installed)
  list(GET lines 2 resize)

  promised("${name}" "DriveFreeSpace::Test 1945" expected)
  if(expected STREQUAL "")
    message(FATAL_ERROR "${machine}: the name does not say what DriveFreeSpace::Test 1945 answers: ${name}")
  endif()
  string(JSON result GET "${test}" result)
  if(NOT result STREQUAL expected)
    message(FATAL_ERROR "${machine}: DriveFreeSpace::Test 1945 answered ${result}, the name promises ${expected}")
  endif()
  string(JSON count LENGTH "${test}" log)
  math(EXPR at "${count} - 1")
  string(JSON line GET "${test}" log ${at})
  if(NOT line STREQUAL last)
    message(FATAL_ERROR "${machine}: the log ends with «${line}», expected «${last}»")
  endif()

  # Names that promise more keep those promises too; other samples have no
  # environment partition.
  promised("${name}" "DriveFreeSpace::IsQuillFrameInstalled" expected)
  if(expected STREQUAL "")
    set(expected OFF)
  endif()
  string(JSON result GET "${installed}" result)
  if(NOT result STREQUAL expected)
    message(FATAL_ERROR "${machine}: DriveFreeSpace::IsQuillFrameInstalled answered ${result}, expected ${expected}")
  endif()
  string(FIND "${name}" "DriveFreeSpace::CanResize 2 1945 takes it" takes)
  string(JSON result GET "${resize}" result)
  if(NOT takes EQUAL -1 AND NOT result)
    message(FATAL_ERROR "${machine}: DriveFreeSpace::CanResize 2 1945 answered ${result}")
  endif()
endforeach()

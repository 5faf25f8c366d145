# `qfcheck preflight` from the command line: exit codes, a plain report when
# the output is not a terminal, one-line errors.
function(run expect_code)
  execute_process(COMMAND ${QFCHECK} ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL expect_code)
    message(FATAL_ERROR "qfcheck ${ARGN}: exit ${code}, expected ${expect_code}:\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
  set(err "${err}" PARENT_SCOPE)
endfunction()

function(expect_in text what)
  string(FIND "${text}" "${what}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "expected «${what}» in:\n${text}")
  endif()
endfunction()

# The built-in machine is ready; the report starts with the verdict, and is
# plain text here, where the output is a pipe.
run(0 preflight)
expect_in("${out}" "QuillFrame preflight")
expect_in("${out}" "\n\nREADY TO INSTALL\n")
expect_in("${out}" "Diagnostic log: ")
string(ASCII 27 escape)
string(FIND "${out}" "${escape}" at)
if(NOT at EQUAL -1)
  message(FATAL_ERROR "colour in a report that goes to a pipe:\n${out}")
endif()

run(1 preflight --machine ${SOURCE_DIR}/machines/vt-disabled.json)
expect_in("${out}" "NOT READY TO INSTALL\n  - Virtualization is switched off in the firmware")

# --size reaches the libraries' questions.
run(0 preflight --json --size 1000)
string(JSON size GET "${out}" sizeMB)
string(JSON log GET "${out}" checks unpartitionedSpace log)
if(NOT size EQUAL 1000)
  message(FATAL_ERROR "--size 1000: sizeMB ${size}")
endif()
expect_in("${log}" "\"DriveFreeSpace::DoNotNeedToResize: Therefore looking for 1025MB of unpartitioned space\"")

# The manufacturer check is asked only with a settings folder.
run(0 preflight --json --machine ${SOURCE_DIR}/machines/nec-desktop.json)
string(JSON status GET "${out}" checks manufacturer status)
run(0 preflight --json --machine ${SOURCE_DIR}/machines/nec-desktop.json --settings-dir ${SOURCE_DIR}/machines)
string(JSON result GET "${out}" checks manufacturer result)
run(0 preflight --json --settings-dir ${SOURCE_DIR}/machines)
string(JSON other GET "${out}" checks manufacturer result)
if(NOT status STREQUAL "skipped" OR NOT result STREQUAL "ON" OR NOT other STREQUAL "OFF")
  message(FATAL_ERROR "manufacturer check: ${status} without a folder, ${result} on the NEC desktop, ${other} elsewhere")
endif()

# Bad input: exit 2 and one line on stderr.
set(bad_machine ${CMAKE_CURRENT_BINARY_DIR}/preflight-bad-machine.json)
file(WRITE ${bad_machine} "{ \"format\": \"qf-machine/1\", \"memory\": { \"total\": 1 } }")
foreach(bad "preflight --size 0" "preflight --size 12abc" "preflight --size" "preflight --colour"
            "preflight --machine /nonexistent.json" "preflight --machine ${bad_machine}" "preflight --live"
            "capture" "frobnicate")
  separate_arguments(args UNIX_COMMAND "${bad}")
  run(2 ${args})
  expect_in("${err}" "qfcheck: ")
  string(REGEX MATCHALL "\n" lines "${err}")
  list(LENGTH lines count)
  if(NOT count EQUAL 1 OR NOT out STREQUAL "")
    message(FATAL_ERROR "qfcheck ${bad}: expected one line on stderr and nothing on stdout, got:\n${out}${err}")
  endif()
endforeach()
run(2 preflight --live)
expect_in("${err}" "--live needs the Windows build")

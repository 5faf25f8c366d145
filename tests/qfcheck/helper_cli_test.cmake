# The helper library's exports from the command line, on the sample
# machines. qfcheck runs in a folder of its own: the library's log and
# dumps land in the current directory.
set(work ${CMAKE_CURRENT_BINARY_DIR}/helper-cli)
file(REMOVE_RECURSE ${work})
file(MAKE_DIRECTORY "${work}/script folder")

include(${CMAKE_CURRENT_LIST_DIR}/calls.cmake)

set(machines ${SOURCE_DIR}/machines)

# Native on the built-in machine, a guest on the vendor's hypervisor; the
# log holds the call's lines.
run(call IsRunningFromNativeWindows --then IsProcessRunning EXPLORER.EXE --then IsProcessRunning explorer)
expect(0 result 1)
expect(0 helperLog 2 "In native vista")
expect(1 result 1)
expect(2 result 0)
run(call --machine ${machines}/corvane-driftwell-guest.json IsRunningFromNativeWindows)
expect(0 result 0)
expect(0 helperLog 0 "Table size = 219")
expect(0 helperLog 1 "bytes read = 219")
expect(0 helperLog 2 "In domU")
file(READ ${work}/corvanehelper.log log HEX)
if(NOT log MATCHES "0d0a$")
  message(FATAL_ERROR "the log's lines end as text-mode lines do: ${log}")
endif()

# The settings file beside the machines names the NEC machine's manufacturer.
run(call --machine ${machines}/nec-desktop.json IsRunningOnNECSystem ${machines}
    --then IsRunningOnNECSystem ${work})
expect(0 result ON)
expect(1 result OFF)
run(call IsRunningOnNECSystem ${machines})
expect(0 result OFF)

# The vendor partition goes; the space it held is unallocated afterwards.
run(call --machine ${machines}/vendor-partition-disk.json GetUnallocatedSpace 0 0
    --then DeleteVRA 0 "${work}/script folder" --then GetUnallocatedSpace 0 0 --then DeleteVRA 0 ${work})
expect(0 result 10240)
expect(1 result 0)
expect(1 out script "select disk 0\r\nselect part 2\r\ndelete part\r\nexit")
list(GET calls 1 deletion)
string(JSON boxes LENGTH "${deletion}" messageBoxes)
if(NOT boxes EQUAL 0)
  message(FATAL_ERROR "no message box when diskpart ran:\n${deletion}")
endif()
expect(2 result 20480)
expect(3 result -1)

# The other library sees the same disk: its environment partition is gone.
run(call --machine ${machines}/vendor-partition-disk.json DriveFreeSpace::IsQuillFrameInstalled
    --then DeleteVRA 0 ${work} --then DriveFreeSpace::IsQuillFrameInstalled)
expect(0 result ON)
expect(1 result 0)
expect(2 result OFF)

# Without diskpart the start fails, with a message box.
set(machine ${work}/no-diskpart.json)
file(READ ${machines}/vendor-partition-disk.json json)
string(JSON json SET "${json}" os "{ \"diskpart\": false }")
file(WRITE ${machine} "${json}")
run(call --machine ${machine} DeleteVRA 0 ${work} --then GetUnallocatedSpace 0 0)
expect(0 result -1)
expect(0 messageBoxes 0 text "Failed to delete the VRA partition, Error code = 2")
expect(0 messageBoxes 0 caption "Error")
expect(0 messageBoxes 0 flags 64)
expect(1 result 10240)

# The dumps: the built-in machine has structures of types 1, 2 and 11.
run(call DumpAll --then CCorvaneHelper::CCorvaneHelper --then CCorvaneHelper::operator= --then nCorvaneHelper)
expect(0 result ON)
expect(0 out files 0 name "table1.out")
expect(0 out files 2 name "table11.out")
list(GET calls 0 dump)
string(JSON count LENGTH "${dump}" out files)
if(NOT count EQUAL 3 OR NOT EXISTS ${work}/table2.out)
  message(FATAL_ERROR "expected three dump files:\n${dump}")
endif()
expect(1 out size 1)
expect(2 result ON)
expect(3 result 0)

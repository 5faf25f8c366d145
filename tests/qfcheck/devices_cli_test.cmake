# Device enumeration from the command line, on the sample machines.
include(${CMAKE_CURRENT_LIST_DIR}/calls.cmake)

set(address EnumerateDiskDevices::GetBootDiskControllerAddress)
set(only EnumerateDiskDevices::IsOnlyDiskConnectedToController)

# machine, the boot disk's controller address, whether the boot disk is alone there
foreach(case "two-disks-one-ide-channel 2617AEAE OFF" "sata-ahci-boot-disk-alone DEV_2829 ON"
             "eleven-disks DEV_0058 OFF")
  separate_arguments(case)
  list(GET case 0 machine)
  list(GET case 1 expected)
  list(GET case 2 alone)
  run(call --machine ${SOURCE_DIR}/machines/${machine}.json ${address} --then ${only} ${expected})
  expect(0 result ON)
  expect(0 out address ${expected})
  expect(1 result ${alone})
endforeach()

# Only the first ten disks are looked at: the eleventh, alone on its USB
# controller, is never found.
run(call --machine ${SOURCE_DIR}/machines/eleven-disks.json EnumerateDiskDevices::GetAllDisksDeviceID
    --then ${only} VID_0781)
expect(0 result 10)
expect(0 out DisksDeviceID 9 "PCI\\VEN_1000&DEV_0058&SUBSYS_1F0E1028&REV_08\\4&3A1B0C2D&0&0020")
expect(1 result OFF)

# The installer's size negotiation: ask with nothing, then with what was asked for.
run(call EnumeratePCIDevices::GetDevices 0)
expect(0 result OFF)
expect(0 out entries "[]")
list(GET calls 0 first)
string(JSON size GET "${first}" out dwCallerRequiredSize)
if(size LESS_EQUAL 0)
  message(FATAL_ERROR "no size asked for:\n${first}")
endif()
math(EXPR short "${size} - 1")
run(call EnumeratePCIDevices::GetDevices 0 --then EnumeratePCIDevices::GetDevices ${size}
    --then EnumeratePCIDevices::GetDevices ${short})
expect(1 result ON)
expect(1 out dwCallerRequiredSize ${size})
expect(1 out entries 2 0 "PCI\\VEN_8086&DEV_2850&SUBSYS_01F91028&REV_03")
expect(1 out entries 2 3 "PCI\\VEN_8086&DEV_2850&CC_0101")
list(GET calls 1 second)
string(JSON copied LENGTH "${second}" out entries)
if(NOT copied EQUAL 3)
  message(FATAL_ERROR "expected the built-in machine's three lists:\n${second}")
endif()
list(GET calls 2 third)
string(JSON copied LENGTH "${third}" out entries)
if(NOT copied EQUAL 2)
  message(FATAL_ERROR "one byte short: every list but the last:\n${third}")
endif()
expect(2 result OFF)

# The prerequisite checks from the command line, on the sample machines.
function(call machine)
  execute_process(COMMAND ${QFCHECK} call --machine ${SOURCE_DIR}/machines/${machine} ${ARGN}
                  RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "qfcheck call --machine ${machine} ${ARGN}: exit ${code}: ${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

# `what` must be in the answer of `export` (one JSON line per call).
function(expect machine export what)
  call(${machine} ${export} ${ARGN})
  string(FIND "${out}" "${what}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${machine}, ${export}: expected «${what}» in:\n${out}")
  endif()
endfunction()

# Another vendor's hypervisor, and the own one, by their firmware markers.
expect(vmware-guest.json CheckNotAlreadyVirtualized::Test "\"result\":false,\"out\":{},\"log\":[]")
expect(vmware-guest.json QuillFrameRunning::Test "\"result\":false")
expect(vmware-guest.json CheckNotAlreadyVirtualized::SearchForStringInBIOS "\"result\":true" "Welcome to the VMware")
expect(vmware-guest.json CheckNotAlreadyVirtualized::SearchForStringInBIOS "\"result\":false" "VMware Virtual Platform")
expect(default.json CheckNotAlreadyVirtualized::Test "\"result\":true")
expect(default.json QuillFrameRunning::Test "\"result\":false")
expect(quillframe-running.json QuillFrameRunning::Test "\"result\":true,\"out\":{},\"log\":[]")
expect(quillframe-running.json QuillFrameRunning::SearchForStringInBIOS "\"result\":true")
expect(quillframe-running.json CheckNotAlreadyVirtualized::Test "\"result\":true")

# Processor virtualization.
expect(default.json ProcessorVT::Test "\"result\":true")
expect(vmware-guest.json ProcessorVT::Test "\"result\":false")
expect(default.json VTEnabled::Test
       "\"result\":true,\"out\":{},\"log\":[\"VTEnabled::Test: entered\",\"VTEnabled::Test: nVTReturn = 5\",\"\",\"VTEnabled::Test: Lock bit set\",\"\"]")
expect(no-vt-driver.json VTEnabled::Test
       "\"result\":false,\"out\":{},\"log\":[\"VTEnabled::Test: entered\",\"VTEnabled::Test: SetupDiEnumDeviceInterfaces failed\"]")
expect(vt-disabled.json VTEnabled::Test "\"result\":false,\"out\":{},\"log\":[\"VTEnabled::Test: entered\",\"VTEnabled::Test: nVTReturn = 1\",\"\",\"VTEnabled::Test: Lock bit set\",\"\"]")
expect(default.json CPUProperties::IsCPUType "\"result\":true" "Core(TM)2 Duo")
expect(default.json CPUProperties::IsCPUType "\"result\":false" "GenuineIntel")

# Operating system and memory.
expect(default.json VistaRequirements::Test "\"result\":true")
expect(xp-sp3.json VistaRequirements::Test "\"result\":false")
expect(xp-sp3.json VistaRequirements::GetVersion "\"result\":true,\"out\":{\"version\":\"XPSP3\"}")
expect(windows7-64bit.json VistaRequirements::Test "\"result\":false")
expect(windows7-64bit.json VistaRequirements::Is32BitVista "\"result\":false")
expect(windows7-64bit.json VistaRequirements::GetVersion "\"version\":\"VISTASP1\"")
expect(default.json RequiredMemory::Test
       "\"result\":true,\"out\":{},\"log\":[\"RequiredMemory::Test: There are 3218079744 total bytes of physical memory.\",\"RequiredMemory::Test: We need 2000000000 total bytes of physical memory.\"]")
expect(little-memory.json RequiredMemory::Test "\"result\":false")
expect(little-memory.json RequiredMemory::Test "There are 1038000128 total bytes")

# Encryption.
expect(default.json CBitlocker::Test
       "\"result\":true,\"out\":{},\"log\":[\"CBitlocker::Test: No instances of Win32_EncryptableVolume, bitlocker is not installed\",\"\"]")
expect(bitlocker.json CBitlocker::Test
       "\"result\":true,\"out\":{},\"log\":[\"CBitlocker::Test: PersistentVolumeID = {9C1E4B7A-3F2D-4E61-8A55-0D7C2B19E3F4}\",\"\"]")

# Every sample machine loads, and names what it shows.
file(GLOB machines ${SOURCE_DIR}/machines/*.json)
foreach(file ${machines})
  file(READ ${file} text)
  string(FIND "${text}" "\"name\":" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "${file}: no name")
  endif()
  get_filename_component(machine ${file} NAME)
  call(${machine} fnQuillFrameInstallerTools)
endforeach()
